#!/usr/bin/env bash
# Under a real window manager (openbox on Xvfb), the main window and a start-up message box are
# offered neither maximise nor resize: the window manager reads their fixed size from the hints.
# Usage: FixedSizeUnderOpenbox.sh BIN_DIR
set -euo pipefail
bin=$(cd "$1" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/marrowtide-openbox.XXXXXX")
trap 'rm -rf "$work"' EXIT

# A program folder without the helper: creation shows "Cannot copy Rastrel2.exe" in a box.
mkdir -p "$work/nohelper" "$work/config" "$work/tmp" "$work/runtime"
chmod 700 "$work/runtime"
cp -r "$bin/marrowtide" "$bin/MakeDisk.avi" "$bin/MakeImage.avi" "$bin/help" "$work/nohelper/"
export XDG_CONFIG_HOME="$work/config" TMPDIR="$work/tmp" XDG_RUNTIME_DIR="$work/runtime"

cat >"$work/check" <<'CHECK'
#!/usr/bin/env bash
# Inside the X session: PROGRAM TITLE. Starts the program, waits for a window named TITLE and
# prints the actions the window manager allows it.
set -u
openbox --config-file /dev/null >/dev/null 2>&1 &
manager=$!
sleep 0.5
"$1" >/dev/null 2>&1 &
program=$!
actions=""
for _ in $(seq 1 100); do
  for id in $(xwininfo -root -tree | grep -F "\"$2\": (\"marrowtide\"" | awk '{print $1}'); do
    case $(xprop -id "$id" _NET_WM_WINDOW_TYPE) in *SPLASH*) continue ;; esac
    actions=$(xprop -id "$id" _NET_WM_ALLOWED_ACTIONS)
  done
  case $actions in *ACTION_MOVE*) break ;; esac
  sleep 0.1
done
kill "$program" "$manager" 2>/dev/null
wait 2>/dev/null
echo "$actions"
CHECK
chmod +x "$work/check"

status=0
for run in "$bin/marrowtide|Marrowtide 1.6b" "$work/nohelper/marrowtide|Marrowtide"; do
  program=${run%%|*} title=${run#*|}
  actions=$(xvfb-run -a -s "-screen 0 1024x768x24" env QT_QPA_PLATFORM=xcb "$work/check" "$program" "$title")
  echo "$title: $actions"
  case $actions in
    *ACTION_MOVE*) ;;
    *) echo "FAIL: no window \"$title\" was managed" >&2; status=1; continue ;;
  esac
  case $actions in
    *MAXIMIZE* | *RESIZE*) echo "FAIL: \"$title\" may be maximised or resized" >&2; status=1 ;;
  esac
done
exit $status
