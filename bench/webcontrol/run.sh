#!/usr/bin/env bash
# The map control's benchmarks, each against its baseline in the same run:
#   scripts: 10,000 CallJavaScritp calls to a ready page, each timed until its script ran
#            (median, p99); 10,000 scripts queued before readiness, drained one per tick after
#            "initComplete", against the period a 1 ms window timer achieves meanwhile;
#   start:   fresh processes, the control (creation by ProgID, AddLinster, init) to "LoadComplete"
#            of the map page vs the platform's bare browser control to its DocumentComplete of the
#            same page, with PSS (process and helpers) once loaded.
# Usage: bench/webcontrol/run.sh <build dir> [rounds]
set -euo pipefail
build="${1:-build/default}"
rounds="${2:-5}"
bin="$(cd "$build/bin" && pwd)"
driver="$bin/webcontrol_map_bench"
[ -x "$driver" ] || { echo "run.sh: $driver is not built" >&2; exit 1; }
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
export LD_LIBRARY_PATH="$bin${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
export PLATFORM_REGISTRY="$scratch/registry.sqlite"

. "$(dirname "$0")/../support/stats.sh"

echo "== scripts, 10,000 each"
"$driver" scripts 10000 2>/dev/null | sed 's/^/  /'

declare -A ms=() total=()
out_control="$scratch/control" out_bare="$scratch/bare"
# Rounds alternate between the two kinds, so that the machine's load hits both alike.
for ((r = 0; r < rounds; r++)); do
    "$driver" start control >>"$out_control" 2>/dev/null
    "$driver" start bare >>"$out_bare" 2>/dev/null
done
for kind in control bare; do
    f="$scratch/$kind"
    ms[$kind]="$(field start_ms <"$f" | median)"
    total[$kind]="$(field pss_total_kib <"$f" | median)"
done
echo "== map page start, median of $rounds fresh processes each"
printf "  control: %8s ms to LoadComplete       PSS with helpers %8s KiB\n" \
    "${ms[control]}" "${total[control]}"
printf "  bare:    %8s ms to DocumentComplete   PSS with helpers %8s KiB\n" \
    "${ms[bare]}" "${total[bare]}"
echo "  ratio:   time $(ratio "${ms[control]}" "${ms[bare]}")x," \
    "memory $(ratio "${total[control]}" "${total[bare]}")x (goal <= 1.1 each)"
