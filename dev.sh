#!/usr/bin/env bash
# Developer entry point: installs what is missing, configures, builds and runs.
#   ./dev.sh test [default|asan|tsan] [ctest -L label]   build and run the tests
#   ./dev.sh demo                                         build and run the whole system: upgrade cycle, streams
#   ./dev.sh bench                                        build and run the benchmarks
#   ./dev.sh fuzz [seconds]                               build and run the fuzz targets
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(cmake ninja-build g++ pkg-config qtbase5-dev libqt5xml5 libcurl4-openssl-dev libssl-dev
          libjsoncpp-dev libsqlite3-dev qtwebengine5-dev googletest libgtest-dev libgmock-dev
          libbenchmark-dev libcpp-httplib-dev 7zip curl openssl binutils clang libclang-rt-14-dev
          clang-format libjs-leaflet)
# For the Debian packages: dpkg-shlibdeps, and file, which cpack runs.
PACKAGES+=(dpkg-dev file)

install_missing() {
    local missing=()
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "dev.sh: installing ${missing[*]}"
        local sudo=""
        [ "$(id -u)" -eq 0 ] || sudo="sudo"
        $sudo apt-get update -q
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
    fi
}

build() {
    local preset="$1"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$(nproc)"
}

cmd="${1:-test}"
shift || true
case "$cmd" in
test)
    preset="default"
    if [ $# -gt 0 ] && [[ "$1" =~ ^(default|asan|tsan)$ ]]; then preset="$1"; shift; fi
    install_missing
    build "$preset"
    export QT_QPA_PLATFORM=offscreen
    if [ "$preset" = "asan" ]; then
        export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0"
        export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
    fi
    if [ "$preset" = "tsan" ]; then export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"; fi
    ctest --preset "$preset" -j "$(nproc)" "$@"
    ;;
demo)
    install_missing || { echo "demo: FAILED at step \"install packages\""; exit 1; }
    build default || { echo "demo: FAILED at step \"build\""; exit 1; }
    if [ -x tools/demo.sh ]; then
        exec tools/demo.sh build/default
    else
        echo "dev.sh: everything is built; the launcher is not built yet, so there is nothing to run."
    fi
    ;;
bench)
    install_missing
    # A Release tree of its own, so the test tree keeps its build type.
    cmake --preset default -B build/bench -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build build/bench -j "$(nproc)"
    for b in build/bench/bin/bench_*; do
        [ -x "$b" ] || continue
        echo "== $b"
        "$b" "$@"
    done
    for s in bench/*/run.sh; do
        [ -x "$s" ] || continue
        echo "== $s"
        "$s" build/bench
    done
    ;;
fuzz)
    install_missing
    build fuzz
    secs="${1:-60}"
    for f in build/fuzz/bin/fuzz_*; do
        [ -x "$f" ] || continue
        name="$(basename "$f")"
        seeds="tests/fuzz/corpus/${name#fuzz_}"
        dict="tests/fuzz/${name#fuzz_}.dict"
        # The kept seeds stay as they are; the run grows a scratch copy.
        corpus="$(mktemp -d)"
        [ -d "$seeds" ] && cp -r "$seeds"/. "$corpus"/
        args=(-max_total_time="$secs" -print_final_stats=1)
        [ -f "$dict" ] && args+=(-dict="$dict")
        echo "== $name for ${secs}s"
        "$f" "${args[@]}" "$corpus"
        rm -rf "$corpus"
    done
    ;;
*)
    echo "usage: ./dev.sh test [default|asan|tsan] [ctest args] | demo | bench | fuzz [seconds]" >&2
    exit 2
    ;;
esac
