#!/bin/sh
# Renders a manual page as lintian does and fails on any warning.
# Usage: check-man-render.sh PAGE
warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
           man --warnings -E UTF-8 -l -Tutf8 -Z "$1" 2>&1 >/dev/null)
[ -z "$warnings" ] || { printf '%s\n' "$warnings"; exit 1; }
