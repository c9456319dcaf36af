#!/usr/bin/env bash
# Builds the Debian package with CPack and checks it: its control file, that
# it holds exactly what "cmake --install" installs under /usr with sound
# owners and modes and nothing naming the build tree, and that the pressel
# it holds prints the bundled sample with the bundled profile as the build
# tree's does.
#
#   deb_package.sh BUILD_DIR SOURCE_DIR LIBDIR
#
# LIBDIR is the configured library directory under the prefix.
set -euo pipefail

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

[ $# -eq 3 ] || fail "usage: $0 BUILD_DIR SOURCE_DIR LIBDIR"
build=$(cd "$1" && pwd -P)
source=$(cd "$2" && pwd -P)
lib=/usr/$3
work=$(mktemp -d "${TMPDIR:-/tmp}/pressel-deb.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >cpack.log 2>&1 || fail "cpack: $(cat cpack.log)"
debs=("$work"/out/pressel_*.deb)
[ ${#debs[@]} = 1 ] && [ -f "${debs[0]}" ] || fail "expected one pressel_*.deb: $(ls "$work/out")"
deb=${debs[0]}
arch=$(dpkg --print-architecture)
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
[ "$(basename "$deb")" = "pressel_${version}_$arch.deb" ] || fail "package file named $(basename "$deb")"

# ---- The control file.
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = pressel ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
[ -n "$(field Maintainer)" ] && [ -n "$(field Description)" ] || fail "Maintainer or Description missing"
depends=$(field Depends)
for runtime in 'libicu[0-9]+' libc6 'libstdc\+\+6' libgcc-s1 fonts-dejavu-core fonts-dejavu-extra 'libpappl[0-9]+'; do
    grep -Eq "(^|, )$runtime( \(>= [^)]+\))?(,|$)" <<<"$depends" || fail "Depends lacks $runtime: $depends"
done
if grep -q -- '-dev' <<<"$depends"; then fail "Depends names a development package: $depends"; fi

# ---- The files: exactly those of an installation under /usr, owned by
# root, directories 0755, files 0644 or (programs, libraries) 0755.
DESTDIR=$work/reference cmake --install "$build" --prefix /usr >/dev/null
(cd reference && find . ! -type d | sed 's|^\.||' | sort) >expected.list
dpkg-deb -c "$deb" >contents.txt
awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }' contents.txt | sort >packaged.list
diff -u expected.list packaged.list >files.diff || fail "the package's files differ from an installation: $(cat files.diff)"
for required in /usr/bin/pressel "$lib"/libpressel-platform.so "$lib"/libstavlo.so "$lib"/libondrel.so \
    "$lib"/libfarsend.so "$lib"/libktsbdrv.so "$lib"/pkgconfig/pressel.pc \
    "$lib"/cmake/Pressel/PresselConfig.cmake /usr/include/pressel/pressel/IPressel.h \
    /usr/include/pressel/pressel/Ondrel.h /usr/include/pressel/win/ole.h /usr/share/man/man1/pressel.1.gz \
    /usr/share/man/man5/pressel-profile.5.gz /usr/share/pressel/profiles/epson-9pin.ini \
    /usr/share/pressel/samples/delivery-round.txt; do
    grep -qx "$required" packaged.list || fail "the package lacks $required"
done
awk '{ print $1, $2, $6 }' contents.txt | while read -r mode owner path; do
    [ "$owner" = root/root ] || fail "$path is owned by $owner"
    case $mode in
    d*) [ "$mode" = drwxr-xr-x ] || fail "$path: $mode" ;;
    -*) [ "$mode" = -rw-r--r-- ] || [ "$mode" = -rwxr-xr-x ] || fail "$path: $mode" ;;
    l*) ;;
    *) fail "$path: $mode" ;;
    esac
done

# ---- Unpacked anywhere, nothing in it names the build or source tree, and its
# pressel prints the bundled sample as the build tree's pressel does.
dpkg-deb -x "$deb" unpacked
if grep -rlF -e "$build" -e "$source" unpacked; then fail "packaged files name the build or source tree"; fi
grep -qx 'prefix=/usr' "unpacked$lib/pkgconfig/pressel.pc" || fail "pressel.pc: $(cat "unpacked$lib/pkgconfig/pressel.pc")"
args=(--header "Route 7 - page {page}" --footer "- {page} -" --quiet)
PRESSEL_REGISTRY=$work/build-registry.reg "$build/bin/pressel" print --ini "$source/examples/profiles/epson-9pin.ini" \
    "Epson LX-350" --output expected.prn "${args[@]}" "$source/examples/delivery-round.txt" ||
    fail "the build tree's pressel did not print"
PRESSEL_REGISTRY=$work/registry.reg unpacked/usr/bin/pressel print --ini unpacked/usr/share/pressel/profiles/epson-9pin.ini \
    "Epson LX-350" --output packaged.prn "${args[@]}" unpacked/usr/share/pressel/samples/delivery-round.txt ||
    fail "the packaged pressel did not print"
cmp expected.prn packaged.prn || fail "the packaged pressel printed other bytes"
echo "$(basename "$deb"): Depends: $depends; $(wc -l <packaged.list) files"
