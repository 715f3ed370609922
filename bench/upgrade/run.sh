#!/usr/bin/env bash
# Times the upgrade engine against the plain tools in the same run:
#   download: one 512 MiB packet from a loopback server, engine vs "curl -o";
#   install:  10,000 files (100 MiB) over a program directory of the same names, engine vs
#             "cp -a" of the backup plus "cp -a" of the packet.
# Usage: bench/upgrade/run.sh <build dir> [rounds] [download|install|all]
set -euo pipefail
build="${1:-build/default}"
rounds="${2:-3}"
only="${3:-all}"
bin="$(cd "$build/bin" && pwd)"
driver="$bin/upgrade_bench_driver"
[ -x "$driver" ] || { echo "run.sh: $driver is not built" >&2; exit 1; }
work="$(mktemp -d)"
server_pid=""
cleanup() {
    { exec 3>&-; } 2>/dev/null || true
    if [ -n "$server_pid" ]; then
        kill "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
export LD_LIBRARY_PATH="$bin${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"

# The engine runs from a program directory of its own. The benchmark packet is not an archive,
# so a no-op extractor stands in and the download time is the transfer's.
app="$work/app"
mkdir -p "$app"
cp "$driver" "$app/"
ln -s /bin/true "$app/7z"

elapsed() { awk '{print $1}' "$1"; }
peak_mib() { awk '{printf "%.1f\n", $2 / 1024}' "$1"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
best() { sort -g | head -1; }

if [ "$only" != install ]; then
    echo "== download: 512 MiB over loopback, $rounds rounds"
    head -c $((512 * 1024 * 1024)) /dev/urandom > "$work/packet.bin"
    mkfifo "$work/ctl"
    "$driver" serve "$work/packet.bin" "$work/port" < "$work/ctl" &
    server_pid=$!
    exec 3> "$work/ctl"
    for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
    [ -s "$work/port" ] || { echo "run.sh: the server did not start" >&2; exit 1; }
    url="http://127.0.0.1:$(cat "$work/port")/packet.bin"
    : > "$work/curl.all"
    : > "$work/engine.all"
    : > "$work/peak.all"
    for round in $(seq "$rounds"); do
        /usr/bin/time -f "%e %M" -o "$work/curl.time" curl -sS -o "$work/curl.out" "$url"
        rm -f "$work/curl.out"
        /usr/bin/time -f "%e %M" -o "$work/engine.time" \
            "$app/upgrade_bench_driver" download "$url" 512 "$work/Tmp" > "$work/engine.out"
        rm -rf "$work/Tmp"
        echo "round $round: curl $(elapsed "$work/curl.time") s, engine $(elapsed "$work/engine.time") s" \
             "(job $(awk '{print $4}' "$work/engine.out") s), engine peak $(peak_mib "$work/engine.time") MiB"
        elapsed "$work/curl.time" >> "$work/curl.all"
        elapsed "$work/engine.time" >> "$work/engine.all"
        peak_mib "$work/engine.time" >> "$work/peak.all"
    done
    exec 3>&-
    wait "$server_pid" || true
    server_pid=""
    rm -f "$work/packet.bin"
    curl_best=$(best < "$work/curl.all")
    engine_best=$(best < "$work/engine.all")
    echo "download best: curl $curl_best s, engine $engine_best s;" \
         "engine throughput / curl throughput = $(ratio "$curl_best" "$engine_best") (goal >= 0.9);" \
         "engine peak $(sort -g "$work/peak.all" | tail -1) MiB (goal < 64)"
fi

if [ "$only" != download ]; then
    echo "== install: 10,000 files of 10 KiB over the same names, $rounds rounds"
    "$driver" generate "$work/program" 10000 10485
    "$driver" generate "$work/packet" 10000 10485
    : > "$work/cp.all"
    : > "$work/rm.all"
    : > "$work/install.all"
    for round in $(seq "$rounds"); do
        rm -rf "$work/b" "$work/b.bak"
        cp -a "$work/program" "$work/b"
        sync
        /usr/bin/time -f "%e %M" -o "$work/cp.time" \
            sh -c 'cp -a "$1" "$1.bak" && cp -a "$2/." "$1/"' sh "$work/b" "$work/packet"
        # The engine also removes its temporary directory (packet and backup) at the end; removing
        # trees of the same size is timed as a reference, not as part of the baseline.
        cp -a "$work/packet" "$work/p2"
        sync
        /usr/bin/time -f "%e %M" -o "$work/rm.time" rm -rf "$work/b.bak" "$work/p2"

        find "$app" -mindepth 1 -maxdepth 1 ! -name upgrade_bench_driver ! -name 7z -exec rm -rf {} +
        cp -a "$work/program/." "$app/"
        mkdir -p "$app/Tmp"
        cp -a "$work/packet" "$app/Tmp/Packet"
        sync
        /usr/bin/time -f "%e %M" -o "$work/install.time" \
            "$app/upgrade_bench_driver" install > "$work/install.out"
        grep -q "^result 0 " "$work/install.out" || { echo "run.sh: installation failed" >&2; exit 1; }
        echo "round $round: cp -a backup + cp -a packet $(elapsed "$work/cp.time") s," \
             "engine $(elapsed "$work/install.time") s" \
             "(reference: rm -rf of a backup and a packet $(elapsed "$work/rm.time") s)"
        elapsed "$work/cp.time" >> "$work/cp.all"
        elapsed "$work/rm.time" >> "$work/rm.all"
        elapsed "$work/install.time" >> "$work/install.all"
    done
    cp_best=$(best < "$work/cp.all")
    install_best=$(best < "$work/install.all")
    rm_best=$(best < "$work/rm.all")
    echo "install best: cp $cp_best s, engine $install_best s;" \
         "engine time / cp time = $(ratio "$install_best" "$cp_best") (goal <= 1.5);" \
         "engine time / (cp + rm) time = $(ratio "$install_best" "$(awk -v a="$cp_best" -v b="$rm_best" 'BEGIN { print a + b }')")"
fi
