#!/bin/sh
# The committed Unicode tables must be what their generator makes from the installed
# unicode-data. Usage: unicode_tables_test.sh GENERATOR FRESH_OUTPUT COMMITTED
data=/usr/share/unicode
if [ ! -r "$data/CaseFolding.txt" ] || [ ! -r "$data/UnicodeData.txt" ]; then
  echo "skipped: unicode-data is not installed (apt-get install unicode-data)"
  exit 77
fi
/usr/bin/python3 "$1" --data "$data" "$2" || exit 1
if ! cmp "$2" "$3"; then
  echo "$3 is not what $1 makes from $data ($(head -n 1 "$data/CaseFolding.txt"));"
  echo "diff -u $3 $2 shows how; regenerate it with $1"
  exit 1
fi
