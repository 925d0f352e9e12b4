#!/usr/bin/env bash
# Drives the bash completion of skm2trn the way bash does (COMP_WORDS, COMP_CWORD) in a folder
# of known files and checks what it offers. With the built program as second argument, also
# checks that every option of its --help is offered.
# Usage: completion_test.sh COMPLETION_FILE [SKM2TRN]
set -uo pipefail
completion=$(realpath "$1")
program=${2:+$(realpath "$2")}
failures=0

# shellcheck source=/dev/null
source "$completion" || { echo "FAIL: cannot source $completion"; exit 1; }
[[ $(complete -p skm2trn 2>/dev/null) == "complete -F _skm2trn skm2trn" ]] ||
  { echo "FAIL: skm2trn is not registered"; failures=$((failures + 1)); }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
mkdir gestures out "with space"
touch wave.skm Bow.SKM mixed.Skm nod.trn LOUD.TRN notes.txt skm trn.gif "with space/a b.skm"

# offers WORD... : completes the last word of "skm2trn WORD..." and prints the sorted offers.
offers() {
  COMP_WORDS=(skm2trn "$@")
  COMP_CWORD=$#
  COMP_LINE="skm2trn $*"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  _skm2trn
  printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort -u
}

# expect 'OFFER|OFFER...' WORD... : the offers for the words must be exactly these.

expect() {
  local want got
  want=$(tr '|' '\n' <<<"$1" | sed '/^$/d' | sort -u)
  shift
  got=$(offers "$@")
  if [[ $got != "$want" ]]; then
    echo "FAIL: skm2trn $* <TAB>"
    echo "  expected: $(tr '\n' '|' <<<"$want")"
    echo "  got:      $(tr '\n' '|' <<<"$got")"
    failures=$((failures + 1))
  fi
}

folders="gestures|out|with space"
skm="Bow.SKM|mixed.Skm|wave.skm"
trn="LOUD.TRN|nod.trn"

# First word: the commands, and the sources of the implicit convert.
expect "$folders|$skm|convert|extract|help|inspect" ""
expect "inspect" "in"
expect "gestures" "g"
# Options, by command.
long="--|--dry-run|--help|--jobs|--json|--no-clobber|--quiet|--recursive|--version"
expect "$long|-h|-j|-n|-q|-r" "-"
expect "$long" "--"
expect "$long" "convert" "--"
expect "--no-clobber" "--n"
expect "" "help" ""
expect "" "help" "-"
expect "--help|--version|-h" "inspect" "-"
expect "--help|--version|-h" "extract" "wave.trn" "-"
# convert: .skm files in any letter case and folders; a command only as the first word.
expect "$folders|$skm" "convert" ""
expect "$folders|$skm" "wave.skm" ""
expect "$folders|$skm" "-q" "-j" "2" ""
expect "$folders|$skm" "-q" "inspect" ""
expect "Bow.SKM" "convert" "B"
expect "with space/a b.skm" "with space/"
# A word after -- is an operand even when it looks like an option.
expect "" "--" "-"
expect "$folders|$skm" "--" ""
# -j takes a number.
expect "1" "-j" "1"
expect "1" "convert" "--jobs" "1"
expect "1" "-qj" "1"
expect "--jobs=1" "--jobs=1"
expect "$folders|$skm" "-qj" "2" ""
expect "$folders|$skm" "-r" "-n" "--dry-run" ""
# inspect: sources and packages; extract: a package, then a folder, then nothing.
expect "$folders|$trn|$skm" "inspect" ""
expect "$folders|$trn|$skm" "inspect" "wave.skm" ""
expect "$folders|$trn" "extract" ""
expect "$folders" "extract" "nod.trn" ""
expect "" "extract" "nod.trn" "out" ""

if [[ -n $program ]]; then
  help=$("$program" --help) || { echo "FAIL: $program --help failed"; failures=$((failures + 1)); }
  offered=" $(offers "-" | tr '\n' ' ')"
  for option in $(grep -oE '(^|[ ,])--?[a-z][a-z-]*' <<<"$help" | tr -d ' ,' | sort -u); do
    [[ $offered == *" $option "* ]] ||
      { echo "FAIL: option $option of --help is not offered"; failures=$((failures + 1)); }
  done
  for command in convert inspect extract; do
    grep -q "skm2trn $command\|\[$command\]" <<<"$help" ||
      { echo "FAIL: --help does not show the command $command"; failures=$((failures + 1)); }
  done
fi

if ((failures)); then
  echo "$failures failure(s)"
  exit 1
fi
echo "completion offers what it should"
