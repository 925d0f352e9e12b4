#!/usr/bin/env bash
# Keeps the options in step everywhere they are listed: the program's --help, the manual page's
# OPTIONS, the bash completion's offers and the README's option table must name the same set.
# Usage: options_test.sh SKM2TRN MANPAGE COMPLETION_FILE README
set -uo pipefail
program=$1 page=$2 completion=$3 readme=$4
failures=0

names() { grep -oE '(^|[ ,`(])--?[a-z][a-z-]*' | tr -d ' ,`(' | sort -u; }

from_help=$("$program" --help | names)
from_page=$(groff -man -Tutf8 -P-cbou "$page" 2>/dev/null | sed -n '/^OPTIONS$/,/^EXIT STATUS$/p' |
  grep -E '^ {7}-' | names)
from_readme=$(sed -n '/^| option | effect |$/,/^$/p' "$readme" | grep '^| `' | cut -d'|' -f2 | names)
# shellcheck source=/dev/null
source "$completion"
COMP_WORDS=(skm2trn -)
COMP_CWORD=1
COMPREPLY=()
_skm2trn
from_completion=$(printf '%s\n' "${COMPREPLY[@]}" | grep -vx -- '--' | sort -u)

[[ -n $from_help ]] || { echo "FAIL: --help lists no options"; exit 1; }
compare() {
  if [[ $2 != "$from_help" ]]; then
    echo "FAIL: the options of the $1 differ from --help"
    diff <(echo "$from_help") <(echo "$2") | sed 's/^/  /'
    failures=$((failures + 1))
  fi
}
compare "manual page" "$from_page"
compare README "$from_readme"
compare completion "$from_completion"
if ((failures)); then
  echo "$failures failure(s)"
  exit 1
fi
echo "options agree: $(tr '\n' ' ' <<<"$from_help")"
