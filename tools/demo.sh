#!/usr/bin/env bash
# The whole system at work: a program directory with the launcher and the reference client, a
# development upgrade server on loopback that offers newer packets of two modules, and the client
# driving the upgrade engine (check, download, install, restart), then the stream manager, then the
# web map control.
#
#   tools/demo.sh <builddir>
#
# Without a display the client runs unattended, prints its transcript and saves a picture of
# each view under docs/; the last line names the step that failed, if one did. With DISPLAY set
# the window opens for a person to click through instead. DEMO_KEEP=1 keeps the scratch folder.
set -uo pipefail

build="${1:?usage: tools/demo.sh <builddir>}"
here="$(cd "$(dirname "$0")/.." && pwd)"
bin="$(cd "$build/bin" 2>/dev/null && pwd)" || bin="$build/bin"
docs="$here/docs"

STEP="prepare"
work=""
server_pid=""

say() { printf '%s\n' "$*"; }
step() {
    STEP="$1"
    say ""
    say "== $1"
}
# The last line names the failing step.
fail() {
    say "demo: FAILED at step \"$STEP\": $*"
    exit 1
}

# Processes started from this program directory, found by their executable.
launchers_running() {
    local pids=() p
    [ -n "$work" ] || return 0
    for p in /proc/[0-9]*; do
        [ "$(readlink "$p/exe" 2>/dev/null)" = "$work/Program/Norvane" ] && pids+=("${p#/proc/}")
    done
    printf '%s\n' "${pids[@]}"
}

# Waits at most $2 tenths of a second until no launcher of ours runs.
wait_launchers_gone() {
    local rounds="$1"
    for _ in $(seq "$rounds"); do
        [ -z "$(launchers_running)" ] && return 0
        sleep 0.1
    done
    return 1
}

stop_server() {
    [ -n "$server_pid" ] || return 0
    kill -TERM "$server_pid" 2>/dev/null
    for _ in $(seq 50); do
        kill -0 "$server_pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null
    server_pid=""
}

cleanup() {
    stop_server
    local p
    for p in $(launchers_running); do kill -KILL "$p" 2>/dev/null; done
    if [ -n "${DEMO_KEEP:-}" ]; then
        echo "demo: kept $work"
    elif [ -n "$work" ]; then
        rm -rf "$work"
    fi
}
trap cleanup EXIT
trap 'fail "interrupted"' INT TERM

launcher="$bin/Norvane"
client="$bin/libOlvane.so"
devserver="$bin/norvane-devserver"
clustertool="$bin/norvane-clustertool"
sevenzip="$(command -v 7zz || command -v 7z || true)"
for f in "$launcher" "$client" "$devserver" "$clustertool" "$bin/Tessel.so"; do
    [ -x "$f" ] || [ -f "$f" ] || fail "$f is missing; build first (./dev.sh demo does)"
done
[ -n "$sevenzip" ] || fail "7-Zip (7zz or 7z) is not installed"
command -v openssl >/dev/null || fail "openssl is not installed"

work="$(mktemp -d)"
prog="$work/Program"
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset HESTAL_SOLUTIONS_DIR HESTAL_DEBUGLOG QRL_PRINTLOG OLVANE_RESTARTS OLVANE_SOLUTION_FILE

# ---------------------------------------------------------------------------------------------
step "stage the program directory"
mkdir -p "$prog/Solutions" || fail "cannot make $prog"
cp "$launcher" "$prog/Norvane" || fail "cannot copy the launcher"
for lib in Hestal Quistal Brevant qrl Varnex; do
    cp "$bin/lib$lib.so" "$prog/" || fail "cannot copy lib$lib.so"
done
cp "$client" "$prog/Solutions/libOlvane.so" || fail "cannot copy the reference client"
# The web map control and the platform it runs on; the client registers the control into its
# registry file the first time its "Map" view opens, and serves the map page from WebMap.
for lib in PlatformCom PlatformWin PlatformAfx; do
    cp "$bin/lib$lib.so" "$prog/" || fail "cannot copy lib$lib.so"
done
cp "$bin/Tessel.so" "$prog/Tessel.so" || fail "cannot copy the map control"
cp -r "$here/examples/webmap" "$prog/WebMap" || fail "cannot copy the map page"
export PLATFORM_REGISTRY="$prog/Registry.sqlite"
# The engine runs the extractor from the program directory.
ln -s "$sevenzip" "$prog/7z" || fail "cannot place the extractor"

# Installed modules: name, version, release day (yyyyMMdd), state, description, size in MB.
modules=(
    "Player|2.1.0|20260301|1|Live and recorded video player|3"
    "Maps|1.0.3|20260415|1|Site maps with camera positions|1"
    "Alarms|3.0.0|20260510|2|Alarm inbox and rules|2"
    "Reports|1.2.0|20251120|0|Monthly reports (kept as it is)|1"
)
{
    echo '<?xml version="1.0" encoding="UTF-8"?>'
    echo '<Client>'
    echo '    <SolutionS>'
    for m in "${modules[@]}"; do
        IFS='|' read -r id version date state desc size <<<"$m"
        lower="$(tr '[:upper:]' '[:lower:]' <<<"$id")"
        printf '        <Solution id="%s" name="%s"><Version>%s</Version><ReleaseDate>%s</ReleaseDate>' \
            "$id" "$lower" "$version" "$date"
        printf '<State>%s</State><Desc>%s</Desc><Size>%s</Size></Solution>\n' "$state" "$desc" "$size"
        mkdir -p "$prog/Solutions/$id"
        printf 'module=%s\nversion=%s\n' "$id" "$version" >"$prog/Solutions/$id/$lower.conf"
    done
    echo '    </SolutionS>'
    echo '</Client>'
} >"$prog/Solutions/SolutionInfo.xml"
say "  $prog"
say "  launcher, reference client (Solutions/libOlvane.so), extractor, ${#modules[@]} modules:"
for m in "${modules[@]}"; do
    IFS='|' read -r id version date state desc size <<<"$m"
    say "    $id $version ($desc)"
done

# ---------------------------------------------------------------------------------------------
step "make a CA and a certificate for the bundled upgrade server"
cluster="$("$clustertool" decode "$here/resources/Conf/System/UpgradeServerCluster.xml")" \
    || fail "cannot read the bundled server cluster file"
current="$(sed -n 's:.*<CurrServer>\(.*\)</CurrServer>.*:\1:p' <<<"$cluster")"
address="$(grep "name=\"$current\"" <<<"$cluster" | sed -n 's:.*svrurl="\([^"]*\)".*:\1:p')"
[ -n "$current" ] && [ -n "$address" ] || fail "no current server in the bundled cluster file"
host="${address%%[:/]*}"
port_part="${address#"$host"}"
port_part="${port_part%%/*}"
server_port_public="${port_part#:}"
[ -n "$server_port_public" ] || server_port_public=443
certs="$work/certs"
mkdir -p "$certs"
(
    cd "$certs" || exit 1
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
        -keyout ca.key -out ca.pem -subj "/CN=Norvane demo CA" \
        -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
    openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
        -keyout server.key -out server.csr -subj "/CN=$host"
    printf 'subjectAltName=DNS:%s\nbasicConstraints=CA:FALSE\nkeyUsage=digitalSignature\nextendedKeyUsage=serverAuth\n' \
        "$host" >server.ext
    openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
        -extfile server.ext -out server.pem
) >"$work/openssl.log" 2>&1 || { cat "$work/openssl.log"; fail "openssl could not make the certificates"; }
say "  current server \"$current\" is $host (port $server_port_public); certificate made for it"

# ---------------------------------------------------------------------------------------------
step "build newer packets of two modules"
packets="$work/packets"
mkdir -p "$packets"
# Each packet holds files as they lie under the program directory.
make_packet() {
    local id="$1" version="$2" extra_kb="$3" tree="$work/tree-$1"
    local lower
    lower="$(tr '[:upper:]' '[:lower:]' <<<"$id")"
    mkdir -p "$tree/Solutions/$id/data"
    printf 'module=%s\nversion=%s\n' "$id" "$version" >"$tree/Solutions/$id/$lower.conf"
    head -c "$((extra_kb * 1024))" /dev/urandom >"$tree/Solutions/$id/data/$lower-$version.bin"
    (cd "$tree" && "$sevenzip" a -bd -y -mx=1 "$packets/$id-$version.7z" Solutions >/dev/null) \
        || return 1
    say "  $id-$version.7z: $(du -k "$packets/$id-$version.7z" | cut -f1) KB"
}
make_packet Player 2.2.0 2600 || fail "7-Zip could not build the Player packet"
make_packet Maps 1.1.0 900 || fail "7-Zip could not build the Maps packet"
make_packet Alarms 3.0.0 64 || fail "7-Zip could not build the Alarms packet"
cat >"$packets/manifest.json" <<'EOF'
{"modules": [
  {"id": "Player", "releaseDate": 20261201, "packet": "Player-2.2.0.7z", "version": "2.2.0",
   "desc": "Faster start, new codecs"},
  {"id": "Maps", "releaseDate": 20261115, "packet": "Maps-1.1.0.7z", "version": "1.1.0",
   "desc": "Floor plans"},
  {"id": "Alarms", "releaseDate": 20260510, "packet": "Alarms-3.0.0.7z", "version": "3.0.0",
   "desc": "Alarm inbox and rules"}
]}
EOF
say "  manifest: Player 2.2.0 and Maps 1.1.0 newer, Alarms 3.0.0 as installed"

# ---------------------------------------------------------------------------------------------
step "start the development upgrade server"
"$devserver" --packets "$packets" --cert "$certs/server.pem" --key "$certs/server.key" \
    --listen 127.0.0.1 --port 0 >"$work/server.out" 2>"$work/server.log" &
server_pid=$!
port=""
for _ in $(seq 100); do
    port="$(head -n 1 "$work/server.out" 2>/dev/null)"
    [ -n "$port" ] && break
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.1
done
[[ "$port" =~ ^[0-9]+$ ]] || { cat "$work/server.log"; fail "the server did not report its port"; }
say "  listening on 127.0.0.1:$port (process $server_pid); $host:$server_port_public is mapped there"

export HESTAL_CA_FILE="$certs/ca.pem"
export HESTAL_CONNECT_TO="$host:$server_port_public:127.0.0.1:$port"
export PATH=/usr/local/bin:/usr/bin:/bin

# ---------------------------------------------------------------------------------------------
if [ -n "${DISPLAY:-}" ]; then
    step "open the client for a person"
    say "  The window opens now: check, download and install on the \"Modules\" tab; the client"
    say "  starts afresh after an installation. \"Live streams\" shows the cameras."
    (cd "$work" && "$prog/Norvane")
    say "  first launcher ended with $?; waiting for any fresh copy to be closed"
    until wait_launchers_gone 10; do :; done
    step "stop the server"
    stop_server
    say "demo: done"
    exit 0
fi

step "run the client unattended"
transcript="$work/transcript.txt"
: >"$transcript"
mkdir -p "$docs" || fail "cannot make $docs"
export QT_QPA_PLATFORM=offscreen
export OLVANE_UNATTENDED=1 OLVANE_TRANSCRIPT="$transcript" OLVANE_PICTURES="$docs"
export OLVANE_STREAM_SECONDS="${OLVANE_STREAM_SECONDS:-6}"
started="$(date +%s%N)"
(cd "$work" && exec "$prog/Norvane" >"$work/launcher.out" 2>"$work/launcher.err") &
first_pid=$!

# Shows the transcript as it grows, until the chain of runs is over (or 3 minutes passed).
shown=0
show_new() {
    local total
    total="$(wc -l <"$transcript")"
    if [ "$total" -gt "$shown" ]; then
        sed -n "$((shown + 1)),${total}p" "$transcript" | sed 's/^/  | /'
        shown="$total"
    fi
}
finished=""
for _ in $(seq 1800); do
    show_new
    if grep -q '^\(done\|failed\):' "$transcript"; then
        finished=yes
        break
    fi
    if ! kill -0 "$first_pid" 2>/dev/null && [ -z "$(launchers_running)" ]; then
        break
    fi
    sleep 0.1
done
wait "$first_pid"
first_code=$?
wait_launchers_gone 300
show_new
# The last copy may have written its last line and ended within one round of the loop.
grep -q '^\(done\|failed\):' "$transcript" && finished=yes
elapsed_ms=$((($(date +%s%N) - started) / 1000000))
elapsed="$((elapsed_ms / 1000)).$(((elapsed_ms % 1000) / 100))"

step "check what happened"
say "  first launcher exit code: $first_code (1 asks for a fresh copy)"
[ -n "$finished" ] || fail "the client did not finish its run (see the transcript above)"
[ -z "$(launchers_running)" ] || fail "a launcher is still running"
if failed_line="$(grep '^failed:' "$transcript" | tail -n 1)" && [ -n "$failed_line" ]; then
    failed_line="${failed_line#failed: }"
    STEP="client: ${failed_line%%:*}"
    fail "${failed_line#*: }"
fi
[ "$first_code" -eq 1 ] || fail "the first run should have asked for a restart (1), not $first_code"
grep -q '^client: run 2 ' "$transcript" || fail "the launcher did not start a fresh copy"
grep -q '^done: .*(result 0)' "$transcript" || fail "the second run did not end with result 0"
[ ! -e "$prog/Tmp" ] || fail "\"Tmp\" is still in the program directory"
grep -q '^version=2.2.0$' "$prog/Solutions/Player/player.conf" || fail "Player files not updated"
[ -f "$prog/Solutions/Player/data/player-2.2.0.bin" ] || fail "new Player file missing"
[ -f "$prog/Solutions/Maps/data/maps-1.1.0.bin" ] || fail "new Maps file missing"
grep -q 'id="Player"[^>]*><Version>2.2.0</Version>' "$prog/Solutions/SolutionInfo.xml" \
    || grep -A1 'id="Player"' "$prog/Solutions/SolutionInfo.xml" | grep -q '2.2.0' \
    || fail "the solution file does not list Player 2.2.0"
grep -q '^version=1.2.0$' "$prog/Solutions/Reports/reports.conf" \
    || fail "Reports should have been left as it was"
say "  program directory: Player 2.2.0 and Maps 1.1.0 in place, solution file updated, \"Tmp\" gone"
say "  second run: result 0; no launcher left running"
for note in "listener: LoadComplete" "listener: initComplete" "listener: cameraClicked"; do
    grep -q "^ *$note" "$transcript" || fail "the map view's listener did not hear \"${note#listener: }\""
done
[ -f "$PLATFORM_REGISTRY" ] || fail "the client did not register the map control"
say "  map view: the control's listener heard LoadComplete, initComplete and the marker click"

step "pictures"
for p in modules-check.png modules-after-restart.png streams-opening.png streams.png map.png; do
    [ -s "$docs/$p" ] || fail "picture $p was not saved"
    say "  docs/$p"
done

step "stop the server"
stop_server
say "  requests served:"
sed 's/^/  | /' "$work/server.log" | tail -n 12
[ -z "$server_pid" ] || fail "the server did not stop"

say ""
say "demo: every step did what it should (client runs took ${elapsed} s)"
exit 0
