#!/usr/bin/env bash
# Installs the program into a private prefix, registers the file type and the desktop entry there
# as the package's triggers do, then asks what a desktop would: the type of a packed image, the
# application that opens it, and the command line the desktop entry starts.
#   FileTypeTest.sh CMAKE BUILD_DIR MARROWTIDE_IMG WORK_DIR
set -euo pipefail
cmake=$1 build=$2 img=$3 work=$4
type=application/x-marrowtide-image

fail() { echo "FAIL: $*" >&2; exit 1; }
expect() { [ "$2" = "$3" ] || fail "$1: got '$2', expected '$3'"; }

rm -rf "$work"
mkdir -p "$work"/{home,config,data,run,stub,files}
prefix=$work/prefix share=$work/prefix/share
"$cmake" --install "$build" --prefix "$prefix" >/dev/null
# The metadata's desktop entry and icon are where it says.
appstreamcli validate-tree --no-net "$prefix" >/dev/null || fail "appstreamcli validate-tree"

# Nothing of the user's or the machine's configuration; the system's types stay visible so a
# clash with them would show. No session bus and no virtual file system daemons.
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_CONFIG_DIRS=$work/config
export XDG_DATA_HOME=$work/data XDG_DATA_DIRS=$share:/usr/share XDG_RUNTIME_DIR=$work/run
export DBUS_SESSION_BUS_ADDRESS=unix:path=$work/no-bus GIO_USE_VFS=local
unset DISPLAY WAYLAND_DISPLAY
# Without a desktop, xdg-mime asks `file`, which knows only its own magic list and never the
# shared-mime-info database a file manager reads. As GNOME, xdg-mime asks GIO, which reads it.
export XDG_CURRENT_DESKTOP=GNOME

# Warnings here mean a malformed definition or entry.
quiet() { local out; out=$("$@" 2>&1) || fail "$* failed: $out"; [ -z "$out" ] || fail "$*: $out"; }
quiet update-mime-database "$share/mime"
quiet update-desktop-database "$share/applications"
grep -qx "$type=marrowtide.desktop;" "$share/applications/mimeinfo.cache" ||
  fail "marrowtide.desktop is not registered for $type"

files=$work/files
head -c 1474560 /dev/zero > "$files/dump"
"$img" pack -q "$files/dump" "$files/My disk.144"
# Without an extension only the tag says what the file is: one file per codec.
"$img" pack -q --mode good "$files/dump" "$files/lzh"
"$img" pack -q --mode fast "$files/dump" "$files/lzrw1kh"
# Every format's extension names the type, whatever the bytes.
for ext in 288 144 120 720 360 168 172 320 180 160; do echo "no tag here" > "$files/named.$ext"; done

content_type() { gio info -a standard::content-type "$1" | sed -n 's/^ *standard::content-type: //p'; }
for f in "$files/My disk.144" "$files"/lzh "$files"/lzrw1kh "$files"/named.*; do
  expect "xdg-mime query filetype ${f##*/}" "$(xdg-mime query filetype "$f")" "$type"
  expect "gio content type of ${f##*/}" "$(content_type "$f")" "$type"
done
expect "gio content type of the raw dump" "$(content_type "$files/dump")" application/octet-stream
expect "xdg-mime query default" "$(xdg-mime query default "$type")" marrowtide.desktop

# Exec=marrowtide: a stand-in first on PATH writes down the arguments it was started with.
export ARGUMENTS_LOG=$work/arguments
cat > "$work/stub/marrowtide" <<'STUB'
#!/bin/sh
printf '%s\n' "$#" "$@" > "$ARGUMENTS_LOG.part" && mv "$ARGUMENTS_LOG.part" "$ARGUMENTS_LOG"
STUB
chmod +x "$work/stub/marrowtide"
PATH=$work/stub:$PATH gio launch "$share/applications/marrowtide.desktop" "$files/My disk.144"
for _ in $(seq 100); do [ -f "$ARGUMENTS_LOG" ] && break; sleep 0.1; done
[ -f "$ARGUMENTS_LOG" ] || fail "the desktop entry did not start marrowtide"
expect "marrowtide's arguments" "$(cat "$ARGUMENTS_LOG")" "$(printf '1\n%s' "$files/My disk.144")"

rm -rf "$work"
echo "file type, default application and launch: ok"
