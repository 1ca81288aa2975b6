#!/usr/bin/env bash
# Checks a few completions of marrowtide-img, and that its commands and diskette formats are the
# ones --help shows.
# Usage: check-completion.sh TOOL COMPLETION-SCRIPT BASH-COMPLETION-SCRIPT
set -uo pipefail
tool=$1
source "$3"
source "$2"

# The completions, sorted, of the last of the given words.
complete_at() {
  COMP_WORDS=(marrowtide-img "$@")
  COMP_CWORD=$#
  COMP_LINE="${COMP_WORDS[*]}"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  _marrowtide_img marrowtide-img "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}" | sort | xargs
}

status=0
expect() {
  local want=$1 got
  shift
  got=$(complete_at "$@")
  [ "$got" = "$want" ] || { echo "after '$*': got '$got', want '$want'"; status=1; }
}

help=$("$tool" --help)
commands=$(sed -n '/^Commands:/,/^Options:/s/^  \([a-z][a-z]*\) .*/\1/p' <<<"$help" | sort -u | xargs)
formats=$(grep -oE '[0-9.]+[MK]B' <<<"$help" | sort -u | xargs)

expect "$commands" ''
expect "$formats" format ''
expect '1.2MB 1.44MB 1.68MB 1.72MB' format 1.
expect '--force --help' format --
expect '--force --help --mode --output --quiet --stdout --threshold' pack --
expect '--threshold' advise --t
expect 'auto fast good' pack --mode ''
expect 'A B list' drive ''
expect 'A B' read ''
expect '--convert' write --c
expect 'A B' verify x.144 ''
expect '--clear --help' drive A --
expect '--hash --help --json' info --
expect '--dat' check --d
expect '--force --help --output --quiet' catalog --
expect '--force --help --stdout' export --
expect '--deleted' ls --d
expect '--json' ls --j
expect '--force --help --output --quiet' extract --

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
touch a.144 b.720 c.mwi dump.img
mkdir folder
expect 'a.144 b.720 c.mwi folder' info ''
expect 'a.144 b.720 c.mwi dump.img folder' export a.144 ''
expect 'a.144 b.720 c.mwi dump.img folder' unpack a.144 ''
expect 'a.144 b.720 c.mwi folder' unpack a.144 -o folder ''
expect 'a.144 b.720 c.mwi dump.img folder' pack ''
expect 'a.144 b.720 c.mwi dump.img folder' ls a.144 ''
expect 'folder' mount a.144 ''
touch e.imd
# Other programs' images are read, never written by read.
expect 'a.144 b.720 c.mwi e.imd folder' write ''
expect 'a.144 b.720 c.mwi folder' read A ''
rm e.imd
touch box.dat
expect 'a.144 b.720 box.dat c.mwi dump.img folder' info --json a.144 ''
expect 'box.dat folder' catalog a.144 -o ''
expect 'box.dat folder' check --dat ''
exit $status
