#!/usr/bin/env bash
# Installs the build into a staging directory (DESTDIR) and uses the staged
# files as a client developer and a user would, with the build and source
# trees out of reach: the example clients built against the staged
# pkg-config file and CMake package and run against the staged libraries,
# "pressel register" without a path, the plug-ins found by the loader.
# Checks that every RUNPATH is relative to its file and that no staged file
# names the build or source tree.
#
#   staged_install.sh BUILD_DIR SOURCE_DIR LIBDIR
#
# LIBDIR is the configured library directory under the prefix.
set -euo pipefail

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

if [ "${1:-}" != --inside ]; then
    [ $# -eq 3 ] || fail "usage: $0 BUILD_DIR SOURCE_DIR LIBDIR"
    build=$(cd "$1" && pwd -P)
    source=$(cd "$2" && pwd -P)
    libdir=$3
    work=$(mktemp -d "${TMPDIR:-/tmp}/pressel-install.XXXXXX")
    trap 'rm -rf "$work"' EXIT
    root=$work/stage/opt/pressel
    DESTDIR=$work/stage cmake --install "$build" --prefix /opt/pressel >/dev/null

    # Every ELF file's run path points into the staged library directory
    # through $ORIGIN, and nothing staged names the trees it came from
    # (debug information aside: it names the build directory by nature).
    while IFS= read -r -d '' file; do
        if [ "$(od -An -tx1 -N4 "$file")" = " 7f 45 4c 46" ]; then
            dynamic=$(readelf -d "$file")
            runpath=$(sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p' <<<"$dynamic")
            [ -n "$runpath" ] || fail "$file has no RUNPATH"
            if grep -q '(RPATH)' <<<"$dynamic"; then fail "$file has an RPATH"; fi
            IFS=: read -r -a entries <<<"$runpath"
            for entry in "${entries[@]}"; do
                case $entry in
                '$ORIGIN'*) ;;
                *) fail "$file: RUNPATH entry $entry is not relative to the file" ;;
                esac
                resolved=$(realpath -m "$(dirname "$file")${entry#'$ORIGIN'}")
                [ "$resolved" = "$root/$libdir" ] || fail "$file: RUNPATH $entry leads to $resolved"
            done
            objcopy --strip-debug "$file" "$work/stripped"
            scanned=$work/stripped
        else
            scanned=$file
        fi
        if grep -qF -e "$build" -e "$source" "$scanned"; then fail "$file names the build or source tree"; fi
    done < <(find "$root" -type f -print0)

    # The rest runs with both trees hidden under empty directories, where the
    # system lets a user mount them (a user and mount namespace).
    cp "$0" "$work/inside.sh"
    if unshare -rm mount -t tmpfs none "$work" 2>/dev/null; then
        unshare -rm bash -c 'mount -t tmpfs none "$1" && mount -t tmpfs none "$2" && shift 2 && exec bash "$@"' \
            hide "$build" "$source" "$work/inside.sh" --inside "$work" "$root" "$libdir" "$build" "$source"
    else
        echo "note: no mount namespace here; the trees stay visible, the loader's log still shows what was used"
        bash "$work/inside.sh" --inside "$work" "$root" "$libdir" "$build" "$source"
    fi
    exit 0
fi

work=$2 root=$3 libdir=$4 build=$5 source=$6
lib=$root/$libdir
pressel=$root/bin/pressel
export PRESSEL_REGISTRY=$work/registry.reg
cd "$work"

# run NAME COMMAND...: runs a staged program with its output in NAME.out and
# NAME.err, its exit status in $status and the loader's log of every object
# it loaded kept for the end.
run() {
    local log=$1
    shift
    status=0
    LD_DEBUG=files LD_DEBUG_OUTPUT=$work/ld.$log "$@" >"$work/$log.out" 2>"$work/$log.err" || status=$?
}

# ---- The command and its registration of the installed control.
run version "$pressel" --version
[ "$status" = 0 ] || fail "pressel --version: status $status: $(cat version.err)"
run register "$pressel" register
[ "$status" = 0 ] || fail "pressel register: status $status: $(cat register.err)"
classes=$("$pressel" reg export 'HKCR\CLSID')
grep -qxF "@=\"$lib/libstavlo.so\"" <<<"$classes" || fail "pressel register did not register $lib/libstavlo.so: $classes"

# ---- Every installed header compiles on its own as C++17 with the staged flags.
# The pkg-config file names the prefix; the staging directory is its sysroot.
export PKG_CONFIG_LIBDIR=$lib/pkgconfig PKG_CONFIG_SYSROOT_DIR=$work/stage
cflags=$(pkg-config --cflags pressel)
(cd "$root/include/pressel" && find . -name '*.h' -printf '%P\n') |
    xargs -P "$(nproc)" -I{} sh -c 'echo "#include <$1>" | c++ -std=c++17 -Wall -Wextra -Werror -fsyntax-only -x c++ $2 - ||
        { echo "header $1 does not compile on its own"; exit 255; }' sh {} "$cflags" ||
    fail "installed headers"

# Runs one build (pc or cmake) of a client with run's log. Built with
# pkg-config, a client outside the loader's path names the library directory
# itself; CMake gives it a run path.
run_client() {
    local log=$1 client=$2 kind=$3
    shift 3
    if [ "$kind" = pc ]; then
        run "$log" env LD_LIBRARY_PATH="$lib" "./$client.pc" "$@"
    else
        run "$log" "./$client.cmake/$client" "$@"
    fi
}

# ---- The example clients, each built with pkg-config and with the CMake package.
examples=$root/share/doc/pressel/examples
for client in progid-client ondrel-client; do
    # The ProgID client is C++17, the Ondrel client C11.
    source_file=$(find "$examples/$client" -name '*.c' -o -name '*.cpp')
    compile=(c++ -std=c++17)
    [ "${source_file##*.}" = c ] && compile=(cc -std=c11 -pedantic)
    # shellcheck disable=SC2046
    "${compile[@]}" -Wall -Wextra -Werror "$source_file" $(pkg-config --cflags --libs pressel) -o "$client.pc" ||
        fail "$client does not build with pkg-config"
    cmake -S "$examples/$client" -B "$client.cmake" -G Ninja -DCMAKE_PREFIX_PATH="$root" \
        -DCMAKE_CXX_FLAGS="-Wall -Wextra -Werror" -DCMAKE_C_FLAGS="-Wall -Wextra -Werror" >"$client.configure" 2>&1 ||
        fail "$client: $(cat "$client.configure")"
    grep -qxF "Pressel_DIR:PATH=$lib/cmake/Pressel" "$client.cmake/CMakeCache.txt" ||
        fail "$client found another Pressel: $(grep Pressel_DIR "$client.cmake/CMakeCache.txt")"
    cmake --build "$client.cmake" >"$client.build" 2>&1 || fail "$client: $(cat "$client.build")"
done

# The ProgID client prints a job through the registered control: its exact bytes.
cat >job.ini <<'EOF'
[P]
EntryName=P
PrintableLines=0
StartupDelay=0
ShutdownDelay=0
InitSeq=27,64
FormFeedSeq=
[PrinterPorts]
P=LPT1:
EOF
printf 'one\ntw\xc3\xb6\n' >job.txt
printf '\x1b@one\r\ntw\xf6\r\n' >job.expected
for kind in pc cmake; do
    run_client "progid-$kind" progid-client $kind job.ini P "job-$kind.prn" job.txt
    [ "$status" = 0 ] || fail "progid-client ($kind): status $status: $(cat "progid-$kind.err")"
    cmp -s job.expected "job-$kind.prn" || fail "progid-client ($kind) printed $(od -c "job-$kind.prn")"
done

# The Ondrel client converts a 16 x 2 one-bit image (top row 8 black, 8 white
# dots; bottom row alternating) into raster rows behind GS v 0.
printf 'BM\x46\0\0\0\0\0\0\0\x3e\0\0\0\x28\0\0\0\x10\0\0\0\x02\0\0\0\x01\0\x01\0\0\0\0\0\x08\0\0\0' >image.bmp
printf '\0\0\0\0\0\0\0\0\x02\0\0\0\0\0\0\0\0\0\0\0\xff\xff\xff\0\x55\xaa\0\0\0\xff\0\0' >>image.bmp
printf '\x1d\x76\x30\x00\x02\x00\x02\x00\xff\x00\xaa\x55' >image.expected
for kind in pc cmake; do
    run_client "ondrel-$kind" ondrel-client $kind image.bmp 16 2 "image-$kind.prn"
    [ "$status" = 0 ] || fail "ondrel-client ($kind): status $status: $(cat "ondrel-$kind.err")"
    grep -q '^<Ondrel.dll ' "ondrel-$kind.out" || fail "ondrel-client ($kind): $(cat "ondrel-$kind.out")"
    cmp -s image.expected "image-$kind.prn" || fail "ondrel-client ($kind) wrote $(od -An -tx1 "image-$kind.prn")"
done

# ---- The control finds the installed plug-ins by their device names: the
# port library for a network printer nobody listens to, the link driver
# over a serial port that does not exist (both jobs fail to open their port).
cat >plugins.ini <<'EOF'
[Network]
EntryName=Network
StartupDelay=0
ShutdownDelay=0
[Link]
EntryName=Link
StartupDelay=0
ShutdownDelay=0
[PrinterPorts]
Network=TCP:127.0.0.1:1
Link=KTSB,COM9:
EOF
printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\System\\DosDevices]\n"COM9:"="%s/no-such-tty"\n' \
    "$work" >ports.reg
"$pressel" reg import ports.reg
run farsend "$pressel" print --ini plugins.ini Network --quiet job.txt
[ "$status" = 1 ] && grep -q "port could not be opened" farsend.err || fail "network printer: status $status: $(cat farsend.err)"
run ktsbdrv "$pressel" print --ini plugins.ini Link --quiet job.txt
[ "$status" = 1 ] && grep -q "port could not be opened" ktsbdrv.err || fail "KTSB link: status $status: $(cat ktsbdrv.err)"

# ---- What the loader loaded: each library from the staged directory, and
# nothing from the build or source tree.
loaded=$(cat "$work"/ld.* | sed -n 's/.*calling init: //p' | while IFS= read -r path; do realpath -m "$path"; done | sort -u)
if grep -F -e "$build" -e "$source" <<<"$loaded"; then fail "objects loaded from the build or source tree"; fi
for name in libpressel-platform.so libstavlo.so libondrel.so libfarsend.so libktsbdrv.so; do
    grep -qxF "$lib/$name" <<<"$loaded" || fail "$name was not loaded from $lib; loaded: $loaded"
done
echo "staged install under /opt/pressel: clients built and run, plug-ins found, nothing from the build tree"
