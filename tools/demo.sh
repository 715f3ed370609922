#!/usr/bin/env bash
# Runs the built launcher for real: a program directory is staged with Norvane, a stand-in main
# frame plug-in and a stand-in upgrade tool, and the launcher is started twice to show its main
# flow. Usage: tools/demo.sh <builddir>
set -euo pipefail

build="${1:?usage: tools/demo.sh <builddir>}"
bin="$build/bin"
launcher="$bin/Norvane"
plugin="$bin/liblauncher_standin_mainframe.so"
tool="$bin/launcher_standin_upgradetool"
for f in "$launcher" "$plugin" "$tool"; do
    if [ ! -e "$f" ]; then
        echo "demo: $f is missing; build with tests enabled (./dev.sh demo does)." >&2
        exit 1
    fi
done

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen
# A short "PATH" keeps the records readable; each run shows the solutions directory put in front.
export PATH=/usr/local/bin:/usr/bin:/bin
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset HESTAL_SOLUTIONS_DIR HESTAL_DEBUGLOG QRL_PRINTLOG NORVANE_STANDIN_DIR

# Waits (at most about 10 s) until a file exists.
wait_for_file() {
    for _ in $(seq 500); do
        [ -e "$1" ] && return 0
        sleep 0.02
    done
    return 1
}

# Waits (at most about 10 s) until a process has ended; an unreaped zombie counts as ended.
wait_gone() {
    for _ in $(seq 500); do
        [ -e "/proc/$1" ] || return 0
        [ "$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null)" = "Z" ] && return 0
        sleep 0.02
    done
    echo "demo: process $1 is still running" >&2
    return 1
}

pids_of() { grep -o '"pid":[0-9]*' "$1" | cut -d: -f2; }

# A fresh program directory with the launcher and the plug-in; the plug-in plays the results
# of mainframe-script.txt, one per run, and records each run in mainframe-record.jsonl.
stage() {
    local dir="$1"
    mkdir -p "$dir/Solutions"
    cp "$launcher" "$dir/Norvane"
    cp "$plugin" "$dir/Solutions/libOlvane.so"
}

show_runs() {
    local record="$1/mainframe-record.jsonl"
    [ -e "$record" ] || { echo "  (no run)"; return; }
    sed 's/^/  run: /' "$record"
}

echo "== 1. started with -crash; the first run asks to run again, the second for an upgrade"
prog="$work/one/Program"
stage "$prog"
mkdir -p "$prog/Upgrade" "$prog/Tmp/Packet/Upgrade"
echo "installed" >"$prog/Upgrade/version.txt"
cp "$tool" "$prog/Tmp/Packet/Upgrade/Upgrade"
echo "staged" >"$prog/Tmp/Packet/Upgrade/version.txt"
printf '3\n2\n' >"$prog/mainframe-script.txt"

set +e
(cd "$work" && "$prog/Norvane" -crash) 2>&1 | sed 's/^/  said: /'
code=${PIPESTATUS[0]}
set -e
show_runs "$prog"
echo "  exit code: $code"
if wait_for_file "$prog/Upgrade/upgrade-record.json"; then
    echo "  upgrade tool started: $(cat "$prog/Upgrade/upgrade-record.json")"
    wait_gone "$(pids_of "$prog/Upgrade/upgrade-record.json")"
else
    echo "  upgrade tool: not started"
fi
echo "  Upgrade/version.txt now: $(cat "$prog/Upgrade/version.txt")"
if [ -e "$prog/Tmp/Packet/Upgrade" ]; then
    echo "  Tmp/Packet/Upgrade: still there"
else
    echo "  Tmp/Packet/Upgrade: moved away"
fi
echo "  debug log:"
sed 's/^/    /' "$prog/Log/debug.log"
echo "  print log (the launcher's own warnings and framework noise are filtered out):"
sed 's/^/    /' "$prog/Log/print.log"

echo
echo "== 2. no arguments; the run asks for a restart, the new instance ends normally"
prog="$work/two/Program"
stage "$prog"
printf '1\n0\n' >"$prog/mainframe-script.txt"
set +e
(cd "$work" && "$prog/Norvane") 2>&1 | sed 's/^/  said: /'
code=${PIPESTATUS[0]}
set -e
for _ in $(seq 500); do
    [ "$(wc -l <"$prog/mainframe-record.jsonl")" -ge 2 ] && break
    sleep 0.02
done
show_runs "$prog"
echo "  exit code of the first instance: $code"
for pid in $(pids_of "$prog/mainframe-record.jsonl"); do
    wait_gone "$pid"
done
echo "  every started process has ended"
