#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a temporary root and runs the installed programs:
# the console tool packs and unpacks a dump and reads a virtual diskette, and the window program, started offscreen through
# its link in bin/, sets up its first-run settings and finds its helper beside itself.
# Usage: PackageTest.sh CPACK CPACK_CONFIG WORK_DIR
set -euo pipefail
cpack=$1 config=$2 work=$3
fail() { echo "FAIL: $*" >&2; exit 1; }
trap 'echo "FAIL: command at line $LINENO" >&2' ERR
for tool in dpkg-deb dpkg-shlibdeps file; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing"; exit 77; }
done

rm -rf "$work"
mkdir -p "$work"
"$cpack" -G DEB --config "$config" -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack"; }
debs=("$work"/out/marrowtide_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one package, found ${debs[*]}"
root=$work/root
dpkg-deb -x "${debs[0]}" "$root"
find "$root" -printf '%p %s %T@\n' | sort >"$work/tree-before"

version=$(dpkg-deb -f "${debs[0]}" Version)
"$root/usr/bin/marrowtide-img" --version | grep -qF "$version" || fail "--version does not say $version"

cd "$work"
cp "$root/usr/lib/marrowtide/help/help.htm" dump.img
truncate -s 1474560 dump.img
"$root/usr/bin/marrowtide-img" pack -q dump.img dump.144
"$root/usr/bin/marrowtide-img" unpack -q dump.144 back.img
cmp dump.img back.img || fail "the unpacked dump differs"

mkdir -m 700 home config tmp run
# The console tool finds the helper beside itself and reads a virtual diskette with it.
(
  export HOME=$work/home XDG_CONFIG_HOME=$work/config TMPDIR=$work/tmp
  "$root/usr/bin/marrowtide-img" format 720KB floppy.img >/dev/null
  "$root/usr/bin/marrowtide-img" drive A floppy.img >/dev/null
  "$root/usr/bin/marrowtide-img" read -q -y A floppy >/dev/null
  "$root/usr/bin/marrowtide-img" unpack -q floppy.720 floppy.back
  cmp floppy.img floppy.back
) || fail "the console tool could not read a virtual diskette"
HOME=$work/home XDG_CONFIG_HOME=$work/config TMPDIR=$work/tmp XDG_RUNTIME_DIR=$work/run \
  QT_QPA_PLATFORM=offscreen "$root/usr/bin/marrowtide" >window.log 2>&1 &
pid=$!
hive=$work/config/marrowtide/HKEY_CURRENT_USER.reg
for _ in $(seq 100); do
  grep -qs '"Forced"=dword:' "$hive" && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
grep -qs '"Forced"=dword:' "$hive" || { cat window.log; fail "no first-run settings in $hive"; }
compgen -G "$work/tmp/marrowtide-$(id -u)/*/Rastrel2.exe" >/dev/null ||
  fail "the window program did not find Rastrel2.exe beside itself"

find "$root" -printf '%p %s %T@\n' | sort | cmp -s - "$work/tree-before" ||
  fail "something was written under the installed tree"
rm -rf "$work"
echo "package ${debs[0]##*/} installs and runs"
