#!/usr/bin/env bash
# Checks that a manual page names every command, option and diskette format the tool's --help
# shows, and that every option of the page's OPTIONS section is one --help shows.
# Usage: check-manpage-help.sh TOOL PAGE
set -euo pipefail
tool=$1 page=$2

help=$("$tool" --help)
# Commands are the first words of the lines of the Commands: section.
help_commands=$(sed -n '/^Commands:/,/^Options:/p' <<<"$help" | sed -n 's/^  \([a-z][a-z]*\) .*/\1/p' | sort -u)
options_in() { grep -oE '(^|[][ ,|])--?[a-z][a-z-]*' | sed 's/^[][ ,|]//' | sort -u; }
help_options=$(options_in <<<"$help")
help_formats=$(grep -oE '[0-9.]+[MK]B' <<<"$help" | sort -u)

# The page as plain words: no font changes, \- as -.
text=$(zcat -f "$page" | sed -e 's/\\f[BIRP]//g' -e 's/\\-/-/g' -e 's/\\&//g')
# The heads of the items (the line after .TP) of one section.
heads() { sed -n "/^\\.SH $1/,/^\\.SH /p" <<<"$text" | grep -A1 '^\.TP' | grep -v '^\.TP'; }
page_options=$(heads OPTIONS | options_in)
page_commands=$(heads COMMANDS | sed -n 's/^\.BI\{0,1\} "\{0,1\}\([a-z][a-z]*\).*/\1/p' | sort -u)

status=0
[ -n "$help_commands" ] && [ -n "$help_options" ] || { echo "no commands or options in --help"; exit 1; }
for word in $help_commands $help_options $help_formats; do
  grep -qE -- "(^|[^a-z-])$word([^a-z-]|\$)" <<<"$text" || { echo "page lacks '$word'"; status=1; }
done
for option in $page_options; do
  grep -qx -- "$option" <<<"$help_options" || { echo "--help lacks option '$option'"; status=1; }
done
if [ "$page_commands" != "$help_commands" ]; then
  echo "commands differ: page: $(echo $page_commands); --help: $(echo $help_commands)"
  status=1
fi
exit $status
