#!/usr/bin/env bash
# Checks what `cmake --install` and `cpack` make of an already built tree. Every case works in a
# temporary folder of its own and removes it afterwards.
#   install_check.sh host <builddir> <sourcedir> <generator> <c++ compiler> <cxxflags> <ldflags>
#   install_check.sh tree <builddir> <sourcedir> [main frame stand-in plug-in]
#   install_check.sh deb  <builddir> <sourcedir>
set -euo pipefail

what="$1"
build="$(cd "$2" && pwd)"
source="$(cd "$3" && pwd)"
shift 3

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

install_to() {
    cmake --install "$build" --prefix "$1" >/dev/null
}

# One line per entry: path, type, link target, mode, and the content's hash for files.
describe_tree() {
    (cd "$1" && find . -printf '%P %y %l %m\n' | sort)
    (cd "$1" && find . -type f -print0 | sort -z | xargs -0 -r sha256sum)
}

# Installed CMake and pkg-config files must name no folder of the machine that built them.
check_no_build_paths() {
    local root="$1" hits
    hits="$(grep -rlF -e "$source" -e "$build" -e "$work" "$root" --include='*.cmake' --include='*.pc' || true)"
    [ -z "$hits" ] || fail "build machine paths in: $hits"
}

# Nothing of the tests, benchmarks or fuzz targets is installed.
check_no_test_files() {
    local hits
    hits="$(grep -Ei '(^|/)(tst_|test|bench|fuzz)|standin|_tests?(\.|$)|gtest|gmock' <<<"$1" || true)"
    [ -z "$hits" ] || fail "test or benchmark files installed: $hits"
}

# Every program and library finds ours relative to itself, never in the build tree.
check_runpaths() {
    local elf runpath
    while IFS= read -r -d '' elf; do
        file -b "$elf" | grep -q '^ELF' || continue
        runpath="$(readelf -d "$elf" | sed -n 's/.*(R\(UN\)\?PATH).*\[\(.*\)\]/\2/p')"
        if tr ':' '\n' <<<"$runpath" | grep -v -e '^$' -e '^\$ORIGIN'; then
            fail "$elf searches $runpath"
        fi
    done < <(find "$1" -type f -print0)
}

case "$what" in
host)
    generator="$1" cxx="$2" cxxflags="$3" ldflags="$4"
    # The tree is moved after installing: hosts find it from where it is, not where it was put.
    install_to "$work/first"
    mv "$work/first" "$work/prefix"
    prefix="$work/prefix"
    check_no_build_paths "$prefix"

    host="$source/tests/install/host"
    cmake -S "$host" -B "$work/host" -G "$generator" -DCMAKE_CXX_COMPILER="$cxx" \
        -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
        -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF \
        -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF >"$work/configure.log" 2>&1 \
        || { cat "$work/configure.log"; fail "host project does not configure"; }
    grep -q "Varnex_DIR:PATH=$prefix/" "$work/host/CMakeCache.txt" || fail "Varnex not found in the prefix"
    cmake --build "$work/host" >"$work/build.log" 2>&1 || { cat "$work/build.log"; fail "host project does not build"; }
    "$work/host/varnex_host" >"$work/run.log" || { cat "$work/run.log"; fail "host run failed"; }
    cat "$work/run.log"
    grep -q "opened, result 0" "$work/run.log" || fail "no open reported"
    grep -q "closed, result 0" "$work/run.log" || fail "no close reported"

    # The web map control, registered with the installed tool into a registry of our own, then
    # created by its ProgID; after unregistering, the ProgID is unknown again.
    export PLATFORM_REGISTRY="$work/registry.sqlite"
    "$prefix/bin/regsvr" "$prefix/lib/norvane/Tessel.so" || fail "regsvr could not register Tessel"
    "$work/host/control_host" >"$work/control.log" || { cat "$work/control.log"; fail "control host failed"; }
    cat "$work/control.log"
    grep -q "init is member 2" "$work/control.log" || fail "control's init not found by name"
    "$prefix/bin/regsvr" -u "$prefix/lib/norvane/Tessel.so" || fail "regsvr could not unregister Tessel"
    "$work/host/control_host" >/dev/null && fail "control created after unregistering"

    # The same host through pkg-config.
    export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
    pc="$(pkg-config --cflags --libs varnex)"
    [ "$(realpath "$(pkg-config --variable=includedir varnex)")" = "$prefix/include" ] \
        || fail "pkg-config gives $pc"
    # shellcheck disable=SC2086
    "$cxx" -std=c++17 $cxxflags "$host/varnex_host.cpp" -o "$work/pc_host" $ldflags $pc -pthread \
        -Wl,-rpath,"$prefix/lib" || fail "host does not build with pkg-config"
    "$work/pc_host" >/dev/null || fail "pkg-config host run failed"

    # The README's host examples are these files, word for word.
    for file in CMakeLists.txt varnex_host.cpp control_host.cpp; do
        awk -v f="tests/install/host/$file" '
            $0 == "<!-- " f " -->" { grab = 1; next }
            grab && /^```/ { if (inside) exit; inside = 1; next }
            grab && inside { print }' "$source/README.md" >"$work/readme.$file"
        cmp -s "$work/readme.$file" "$host/$file" || fail "README's copy of $file differs from the host project's"
    done
    ;;

tree)
    standin="${1:-}"
    # Installing twice over the same prefix changes nothing.
    install_to "$work/prefix"
    describe_tree "$work/prefix" >"$work/once"
    install_to "$work/prefix"
    describe_tree "$work/prefix" >"$work/twice"
    diff "$work/once" "$work/twice" || fail "a second install changed the tree"
    check_no_test_files "$(cd "$work/prefix" && find . -printf '%P\n')"
    check_no_build_paths "$work/prefix"

    # Libraries carry their major version as soname, with the link the loader looks for.
    for lib in "$work"/prefix/lib/lib*.so.*.*.*; do
        soname="$(readelf -d "$lib" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')"
        [ "$soname" = "$(basename "${lib%.*.*}")" ] || fail "$lib has soname '$soname'"
        [ -L "$work/prefix/lib/$soname" ] || fail "no $soname link"
    done
    check_runpaths "$work/prefix"

    # The examples only on request: the reference client as the launcher's main frame plug-in.
    [ -z "$(ls -A "$work/prefix/lib/norvane/Solutions")" ] || fail "examples installed unasked"
    cmake --install "$build" --prefix "$work/examples" --component Examples >/dev/null
    [ "$(cd "$work/examples" && find . -type f)" = "./lib/norvane/Solutions/libOlvane.so" ] \
        || fail "the Examples component holds $(cd "$work/examples" && find . -type f)"
    check_runpaths "$work/examples"

    # With DESTDIR everything lands below it; the prefix itself stays untouched.
    DESTDIR="$work/stage" cmake --install "$build" --prefix "$work/elsewhere/usr" >/dev/null
    [ ! -e "$work/elsewhere" ] || fail "install with DESTDIR wrote into the prefix itself"
    top="${work#/}"
    [ "$(ls -A "$work/stage")" = "${top%%/*}" ] || fail "install with DESTDIR wrote beside the prefix"
    (cd "$work/stage$work/elsewhere/usr" && find . -printf '%P %y %l %m\n' | sort) >"$work/staged"
    (cd "$work/prefix" && find . -printf '%P %y %l %m\n' | sort) >"$work/plain"
    diff "$work/plain" "$work/staged" || fail "DESTDIR tree differs from a plain install"

    # The launcher starts from its installed program directory through the link in bin/, finds
    # the main frame plug-in in "Solutions/" and passes on its result.
    if [ -n "$standin" ]; then
        program="$work/prefix/lib/norvane"
        cp "$standin" "$program/Solutions/libOlvane.so"
        echo 7 >"$program/mainframe-script.txt"
        code=0
        (cd "$work" && env -u NORVANE_STANDIN_DIR -u HESTAL_SOLUTIONS_DIR \
            XDG_RUNTIME_DIR="$work" QT_QPA_PLATFORM=offscreen "$work/prefix/bin/Norvane") || code=$?
        [ "$code" -eq 7 ] || fail "installed launcher exited with $code, not the plug-in's 7"
        grep -q "\"cwd\":\"$program\"" "$program/mainframe-record.jsonl" \
            || fail "launcher did not run in its program directory: $(cat "$program/mainframe-record.jsonl")"
    fi
    ;;

deb)
    # cpack installs the built tree into its own staging folder and packs it.
    cpack --config "$build/CPackConfig.cmake" -B "$work/packages" >"$work/cpack.log" 2>&1 \
        || { cat "$work/cpack.log"; fail "cpack failed"; }
    runtime="$(ls "$work"/packages/norvane_*.deb)"
    dev="$(ls "$work"/packages/norvane-dev_*.deb)"
    listing="$(for deb in "$runtime" "$dev"; do dpkg-deb -c "$deb"; done)"
    echo "$listing"
    paths="$(awk '{ print $6 }' <<<"$listing" | sed 's,^\./,/,')"

    # Each deliverable, tool and stand-in library once, as a file of its own.
    files="$(awk '$1 ~ /^-/ { print $6 }' <<<"$listing")"
    for name in Norvane libVarnex.so.1.0.0 Tessel.so libZorStylePlugin.so libBrevant.so.1.0.0 \
        libqrl.so.1.0.0 libHestal.so.1.0.0 libQuistal.so.1.0.0 libPlatformCom.so.1.0.0 \
        libPlatformAfx.so.1.0.0 libPlatformWin.so.1.0.0 norvane-clustertool regsvr norvane-devserver \
        norvane-container varnex/realstream.h tessel/PageListener.h platform/olesite.h \
        platform/creation.h VarnexConfig.cmake VarnexConfigVersion.cmake \
        NorvanePlatformConfig.cmake NorvanePlatformConfigVersion.cmake varnex.pc; do
        count="$(grep -c "/$name\$" <<<"$files" || true)"
        [ "$count" -eq 1 ] || fail "$name is in the packages $count times"
    done
    check_no_test_files "$paths"
    outside="$(grep -v -e '^/$' -e '^/usr/' <<<"$paths" || true)"
    [ -z "$outside" ] || fail "files outside /usr: $outside"

    # Headers and package files go to the development package, which needs the runtime one.
    dpkg-deb -c "$runtime" | grep -q '/include/' && fail "headers in the runtime package"
    dpkg-deb -f "$dev" Depends | grep -q '^norvane (= ' || fail "norvane-dev does not depend on norvane"
    depends="$(dpkg-deb -f "$runtime" Depends)"
    echo "Depends: $depends"
    for lib in libc6 libqt5core5a libcurl4 libssl3; do
        grep -q "$lib" <<<"$depends" || fail "shlibdeps left out $lib: $depends"
    done
    # The maintainer scripts run against the unpacked package, as dpkg runs them for another root.
    dpkg-deb -R "$runtime" "$work/root"
    export DPKG_ROOT="$work/root"
    unset PLATFORM_REGISTRY
    regsvr="$work/root/usr/bin/regsvr"
    sh "$work/root/DEBIAN/postinst" configure || fail "postinst failed"
    export PLATFORM_REGISTRY="$work/root/var/lib/norvane/platform-registry.sqlite"
    "$regsvr" -e TESSELDLL.TesselDllCtrl.1 | grep -q '^\[HKEY_CLASSES_ROOT\\TESSELDLL.TesselDllCtrl.1\]' \
        || fail "postinst did not register the control"
    sh "$work/root/DEBIAN/prerm" remove || fail "prerm failed"
    "$regsvr" -e TESSELDLL.TesselDllCtrl.1 >/dev/null && fail "prerm left the control registered"

    dpkg-deb -x "$dev" "$work/dev"
    check_no_build_paths "$work/dev"
    ;;

*)
    fail "unknown case $what"
    ;;
esac
echo "ok: $what"
