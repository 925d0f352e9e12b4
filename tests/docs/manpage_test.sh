#!/usr/bin/env bash
# Checks the built manual page: groff formats it without a warning, it has the sections a user
# looks for, and, given the built program, it shows the program's version and describes every
# option and command of its --help.
# Usage: manpage_test.sh MANPAGE [SKM2TRN]
set -uo pipefail
page=$1
program=${2:-}
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

warnings=$(groff -man -ww -z "$page" 2>&1)
[[ -z $warnings ]] || fail "groff warns: $warnings"
grep -q '@[A-Z_]*@' "$page" && fail "unsubstituted @VARIABLE@ left in $page"

text=$(groff -man -Tutf8 -P-cbou "$page" 2>/dev/null)
for section in NAME SYNOPSIS DESCRIPTION COMMANDS OPTIONS "EXIT STATUS" FILES LIMITS EXAMPLES; do
  grep -qx "$section" <<<"$text" || fail "no section $section"
done
# What the page promises about exit statuses and limits.
for status in 0 1 2; do
  sed -n '/^EXIT STATUS$/,/^FILES$/p' <<<"$text" | grep -qE "^ +$status( |$)" ||
    fail "EXIT STATUS does not describe status $status"
done
flat=$(tr -s ' \n' ' ' <<<"$text")
grep -q "at most 30 frames" <<<"$flat" || fail "LIMITS does not give the 30-frame limit"
grep -q "256 MiB" <<<"$flat" || fail "LIMITS does not give the 256 MiB bound"
grep -q "4,194,304 pixels (2048 × 2048)" <<<"$flat" || fail "LIMITS does not give the strip limit"

if [[ -n $program ]]; then
  version=$("$program" --version | awk '{print $2}')
  [[ -n $version ]] || fail "$program --version printed no version"
  grep -q "skm2trn $version" <<<"$text" || fail "the page does not show version $version"
  help=$("$program" --help)
  options=$(sed -n '/^OPTIONS$/,/^EXIT STATUS$/p' <<<"$text")
  for option in $(grep -oE '(^|[ ,])--?[a-z][a-z-]*' <<<"$help" | tr -d ' ,' | sort -u); do
    grep -qE "(^|[ ,])$option([ ,]|$)" <<<"$options" || fail "OPTIONS does not describe $option"
  done
  commands=$(sed -n '/^COMMANDS$/,/^OPTIONS$/p' <<<"$text")
  for command in convert inspect extract; do
    grep -qE "^ +$command$" <<<"$commands" || fail "COMMANDS does not describe $command"
  done

  # Every example runs as printed, in a folder laid out as the examples assume, without a usage
  # error; the conversion reports the one sample that cannot be converted.
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  samples=$(realpath "$(dirname "$0")/../../samples")
  real=$(realpath "$program")
  mkdir "$work/bin" "$work/gestures"
  cp "$samples"/* "$work/gestures/"
  cp "$samples/wave.skm" "$samples/nod.skm" "$work/"
  # shellcheck disable=SC2016 # the wrapper expands these itself
  printf '%s\n' '#!/bin/sh' "\"$real\" \"\$@\"" 'status=$?' \
    '[ $status -ne 2 ] || echo "USAGE ERROR: skm2trn $*" >&2' 'exit $status' >"$work/bin/skm2trn"
  chmod +x "$work/bin/skm2trn"
  examples=$(sed -n '/^\.EX$/,/^\.EE$/p' "$page" | sed '/^\.E[XE]$/d; s/\\-/-/g' |
    sed "s/\\\\(aq/'/g")
  [[ -n $examples ]] || fail "the page has no examples"
  ran=$(cd "$work" && PATH="$work/bin:$PATH" bash -c "$examples" 2>&1)
  grep -q "USAGE ERROR" <<<"$ran" && fail "an example is a usage error: $ran"
  grep -qF "['gestures/toolong.skm']" <<<"$ran" ||
    fail "the --json example did not list gestures/toolong.skm: $ran"
  for file in button.bmp animation.gif sound.wav name.txt; do
    [[ -s "$work/wave/$file" ]] || fail "the extract example wrote no $file"
  done
fi

if ((failures)); then
  echo "$failures failure(s)"
  exit 1
fi
echo "manual page is complete"
