#!/usr/bin/env bash
# Times the browser control against the bare engine in the same run:
#   start: fresh processes, the control (embedded by the container helper) vs a bare
#          QWebEngineView, from creation to the first completed document of a small loopback
#          page, with PSS once loaded (1 and 4 browsers);
#   bridge: 10,000 window.external calls vs 10,000 bare prompt() round trips, median and p99.
# Usage: bench/platform/run.sh <build dir> [rounds]
set -euo pipefail
build="${1:-build/default}"
rounds="${2:-5}"
bin="$(cd "$build/bin" && pwd)"
driver="$bin/platform_browser_bench"
[ -x "$driver" ] || { echo "run.sh: $driver is not built" >&2; exit 1; }
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
export LD_LIBRARY_PATH="$bin${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"

. "$(dirname "$0")/../support/stats.sh"

for n in 1 4; do
    declare -A ms=() host=() total=()
    for kind in control bare; do
        out="$(mktemp)"
        # Rounds alternate between the two kinds, so that the machine's load hits both alike.
        for ((r = 0; r < rounds; r++)); do "$driver" start "$kind" "$n" >>"$out" 2>/dev/null; done
        ms[$kind]="$(field start_ms <"$out" | median)"
        host[$kind]="$(field pss_host_kib <"$out" | median)"
        total[$kind]="$(field pss_total_kib <"$out" | median)"
        rm -f "$out"
    done
    echo "== start with $n browser(s), median of $rounds fresh processes"
    printf "  control: %8s ms  PSS host %8s KiB  with helpers %8s KiB\n" \
        "${ms[control]}" "${host[control]}" "${total[control]}"
    printf "  bare:    %8s ms  PSS host %8s KiB  with helpers %8s KiB\n" \
        "${ms[bare]}" "${host[bare]}" "${total[bare]}"
    echo "  ratio:   time $(ratio "${ms[control]}" "${ms[bare]}")x (goal <= 1.2)," \
        "memory $(ratio "${total[control]}" "${total[bare]}")x (goal <= 1.1)"
done

echo "== window.external round trip, 10,000 calls"
out="$("$driver" bridge 10000 2>/dev/null)"
echo "$out" | sed 's/^/  /'
c_med="$(echo "$out" | grep '^control' | field median_us)"
b_med="$(echo "$out" | grep '^bare' | field median_us)"
echo "  ratio:   median $(ratio "$c_med" "$b_med")x (goals: <= 500 us and <= 1.5x)"
