#!/usr/bin/python3
"""Compares caselessNameKey with Python's own canonical caseless match,
NFD(casefold(NFD(s))), for every code point and for random strings of marks, letters and
Hangul. Python's unicodedata may carry another Unicode version than our tables; then the check
keeps to the code points assigned in both (their foldings, decompositions and classes are
stable across versions), which DerivedAge.txt of Debian's unicode-data tells. Exit 77 skips.

Usage: name_fold_oracle.py TOOL [--data /usr/share/unicode]
"""
import argparse
import random
import re
import subprocess
import sys
import unicodedata

SKIP = 77


def version_tuple(text):
    return tuple(int(p) for p in text.split('.'))


def read_ages(path):
    """Age of every assigned code point, and the file's own Unicode version."""
    ages = {}
    with open(path, encoding='utf-8') as f:
        version = re.search(r'-(\d+\.\d+\.\d+)\.txt', f.readline()).group(1)
        for line in f:
            line = line.split('#', 1)[0].strip()
            if not line:
                continue
            span, age = [p.strip() for p in line.split(';')]
            first, _, last = span.partition('..')
            for cp in range(int(first, 16), int(last or first, 16) + 1):
                ages[cp] = version_tuple(age + '.0')
    return ages, version_tuple(version)


def reference(s):
    return unicodedata.normalize('NFD', unicodedata.normalize('NFD', s).casefold())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('tool')
    parser.add_argument('--data', default='/usr/share/unicode')
    args = parser.parse_args()

    ours = subprocess.run([args.tool, '--version'], check=True, capture_output=True,
                          text=True).stdout.strip()
    theirs = unicodedata.unidata_version
    codepoints = [cp for cp in range(0x110000) if not 0xD800 <= cp <= 0xDFFF]
    if ours != theirs:
        try:
            ages, age_version = read_ages(args.data + '/DerivedAge.txt')
        except OSError as e:
            print('skipped: tables carry Unicode %s, Python %s, and no DerivedAge.txt to tell '
                  'the common code points (%s)' % (ours, theirs, e))
            return SKIP
        common = min(version_tuple(ours), version_tuple(theirs))
        if age_version < max(version_tuple(ours), version_tuple(theirs)):
            print('skipped: DerivedAge.txt is older than Unicode %s and %s' % (ours, theirs))
            return SKIP
        # Unassigned in both stays in: neither folds nor decomposes it.
        before = len(codepoints)
        codepoints = [cp for cp in codepoints if ages.get(cp, ()) <= common]
        print('tables: Unicode %s, Python: Unicode %s; %d code points assigned only in the '
              'newer one left out' % (ours, theirs, before - len(codepoints)))

    rng = random.Random(17)
    # Marks of many classes (including U+0345, which folds to a starter), Greek and Latin
    # letters that fold to several code points, Hangul syllables and jamo, sigma forms.
    pool = [chr(cp) for cp in codepoints
            if unicodedata.combining(chr(cp)) or unicodedata.decomposition(chr(cp))
            and not unicodedata.decomposition(chr(cp)).startswith('<')]
    pool += list('AaKkSs\u00df\u1e9e\u0130\u0131\u03a3\u03c3\u03c2\u0390\ufb01\ufb03\u01f0'
                 '\u0386\u1fbc\u1fb3\u2126\u212a\uac00\uac01\ud7a3\u1100\u1161\u11a8'
                 '\u00c9\u00e9\u0301\u0345') + ['\U0001e900']
    strings = [chr(cp) for cp in codepoints]
    for _ in range(60000):
        strings.append(''.join(rng.choice(pool) for _ in range(rng.randint(2, 7))))

    request = ''.join(s.encode('utf-8').hex() + '\n' for s in strings)
    answer = subprocess.run([args.tool], input=request, check=True, capture_output=True,
                            text=True).stdout.split('\n')
    failures = 0
    for s, got in zip(strings, answer):
        want = reference(s).encode('utf-8').hex()
        if got != want:
            failures += 1
            if failures <= 20:
                print('MISMATCH %s: got %s want %s' % (
                    ' '.join('U+%04X' % ord(c) for c in s), got, want))
    if len(answer) != len(strings) + 1:
        print('tool answered %d lines for %d names' % (len(answer) - 1, len(strings)))
        failures += 1
    print('%d single code points and %d strings compared, %d mismatches' % (
        len(codepoints), len(strings) - len(codepoints), failures))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
