#!/usr/bin/env bash
# tools/install-deps --list decides what a machine needs, here on made-up machines: a PATH of
# stand-ins for dpkg, dpkg-query, node and npm, so no real Node.js is touched. npm comes from
# Debian only where no npm is on PATH and the only Node.js, if any, is Debian's own.
# Usage: install_deps_test.sh TOOLS_DIR
set -uo pipefail
tools=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# machine NAME NODE(none|debian|nodesource|elsewhere) NPM(yes|no) MISSING_PACKAGE
machine() {
  local bin="$work/$1"
  mkdir -p "$bin"
  for tool in dirname readlink cut grep; do ln -s "$(command -v "$tool")" "$bin/$tool"; done
  printf '#!/bin/sh\ncase "$1" in\n  -s) [ "$2" = "%s" ] || echo "Status: install ok installed" ;;\n' \
    "$4" >"$bin/dpkg"
  case $2 in
    debian | nodesource) printf '  -S) echo "nodejs: $2" ;;\n' >>"$bin/dpkg" ;;
    *) printf '  -S) exit 1 ;;\n' >>"$bin/dpkg" ;;
  esac
  printf 'esac\n' >>"$bin/dpkg"
  provides=""
  [[ $2 == nodesource ]] && provides="nodejs-dev, npm"
  printf '#!/bin/sh\necho "%s"\n' "$provides" >"$bin/dpkg-query"
  [[ $2 == none ]] || printf '#!/bin/sh\n' >"$bin/node"
  [[ $3 == no ]] || printf '#!/bin/sh\n' >"$bin/npm"
  chmod +x "$bin"/*
  echo "$bin"
}

while read -r name node npm missing lists expected warning; do
  bin=$(machine "$name" "$node" "$npm" "$missing")
  # shellcheck disable=SC2086 # the lists are words
  listed=$(PATH=$bin /bin/bash "$tools/install-deps" --list ${lists//,/ } 2>"$work/$name.err" |
    tr '\n' ' ')
  if [[ "$listed" != "${expected//,/ } " && !("$expected" == - && -z "$listed") ]]; then
    echo "FAIL: $name: lists '$listed', expected '$expected'"
    failures=$((failures + 1))
  fi
  if [[ $warning != - ]] && ! grep -q "$warning" "$work/$name.err"; then
    echo "FAIL: $name: no warning '$warning': $(cat "$work/$name.err")"
    failures=$((failures + 1))
  fi
done <<'CASES'
stock-debian debian no none web npm -
bare none no nodejs web,test nodejs,npm -
own-npm debian yes none web - -
nodesource-without-npm nodesource no none web - provides
node-from-elsewhere elsewhere no none web - does.not.come.from.a.Debian.package
emscripten-missing debian yes emscripten web,test,windows emscripten -
CASES
((failures == 0)) && echo "install-deps decides as expected"
exit $((failures > 0))
