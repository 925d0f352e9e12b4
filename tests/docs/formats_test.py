#!/usr/bin/python3
"""Checks the tables of docs/formats.md against real files.

The offsets, sizes, types and fixed values come from the tables themselves, so a table that
drifts from the files fails here. Checked files: every sample gesture, the packages that the
built skm2trn makes of them (when --skm2trn is given), and the default sound.

Usage: formats_test.py --doc docs/formats.md --samples samples --sound convert/default_sound.wav
                       [--skm2trn build/default/cli/skm2trn]
"""
import argparse
import hashlib
import io
import os
import re
import struct
import subprocess
import sys
import tempfile

from PIL import Image

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
    return condition


# ---- reading the tables -------------------------------------------------------------------

def read_tables(path):
    """Maps every '### heading' to the rows of the first table under it (lists of cells)."""
    tables = {}
    heading = None
    with open(path, encoding="utf-8") as doc:
        for line in doc:
            line = line.rstrip("\n")
            if line.startswith("#"):
                heading = line.lstrip("#").strip()
                continue
            if not line.startswith("|") or heading is None:
                continue
            cells = [cell.strip() for cell in line.strip().strip("|").split("|")]
            if all(re.fullmatch(r":?-+:?", cell) for cell in cells):
                continue
            tables.setdefault(heading, []).append(cells)
    return tables


class Row:
    def __init__(self, header, cells):
        fields = dict(zip(header, cells))
        self.offset = fields["Offset"]
        self.size = fields["Size"]
        self.type = fields["Type"]
        self.field = fields["Field"]
        self.value = fields["Value"]

    def __repr__(self):
        return f"{self.offset}/{self.size} {self.field}"


def layout(tables, heading):
    table = tables.get(heading)
    if not check(table and len(table) > 1, f"formats.md has no table under '{heading}'"):
        return []
    header = table[0]
    for column in ("Offset", "Size", "Type", "Field", "Value"):
        check(column in header, f"table '{heading}' has no column {column}")
    return [Row(header, cells) for cells in table[1:]]


def evaluate(expression, env, where):
    """Sums the terms of an expression such as '57+n+L1'; None when a name is not yet known."""
    total = 0
    for term in expression.replace(" ", "").split("+"):
        if re.fullmatch(r"\d+", term):
            total += int(term)
        elif term in env:
            total += env[term]
        else:
            check(False, f"{where}: '{term}' in '{expression}' is not defined by an earlier row")
            return None
    return total


INTEGER_TYPES = {
    "u8": (1, "big", False),
    "u16be": (2, "big", False),
    "u32be": (4, "big", False),
    "s16be": (2, "big", True),
    "u16le": (2, "little", False),
    "u24le": (3, "little", False),
    "u32le": (4, "little", False),
}


def fixed_value(text):
    """The Value cell as bytes (quoted text) or an int; None when the cell is empty."""
    if not text:
        return None
    if len(text) >= 2 and text[0] == '"' and text[-1] == '"':
        return text[1:-1].encode("latin-1")
    return int(text, 0)


# ---- checks of embedded files -------------------------------------------------------------

def walk_gif(data):
    """Walks the GIF block structure; returns (frames, delays, disposals, loop count or None)."""
    if data[:6] not in (b"GIF87a", b"GIF89a") or len(data) < 13:
        raise ValueError("no GIF header")
    at = 13
    if data[10] & 0x80:
        at += 3 << ((data[10] & 7) + 1)
    frames, delays, disposals, loop = 0, [], [], None

    def sub_blocks(at):
        chunks = []
        while True:
            length = data[at]
            if length == 0:
                return at + 1, chunks
            chunks.append(data[at + 1:at + 1 + length])
            at += 1 + length

    while True:
        kind = data[at]
        if kind == 0x3B:
            if at + 1 != len(data):
                raise ValueError(f"{len(data) - at - 1} bytes after the trailer")
            return frames, delays, disposals, loop
        if kind == 0x21:
            label = data[at + 1]
            at, chunks = sub_blocks(at + 2)
            if label == 0xF9:
                packed, delay = chunks[0][0], struct.unpack("<H", chunks[0][1:3])[0]
                disposals.append((packed >> 2) & 7)
                delays.append(delay)
            elif label == 0xFF and chunks and chunks[0] == b"NETSCAPE2.0":
                loop = struct.unpack("<H", chunks[1][1:3])[0]
        elif kind == 0x2C:
            packed = data[at + 9]
            at += 10
            if packed & 0x80:
                at += 3 << ((packed & 7) + 1)
            at, _ = sub_blocks(at + 1)
            frames += 1
        else:
            raise ValueError(f"unexpected byte {kind:#04x} at {at}")


def check_mpeg(data, where):
    """MPEG-2.5 Layer III, 16 kbit/s, 8000 Hz, mono, no CRC: 144-byte frames; the last may be cut."""
    whole = len(data) // 144
    check(whole > 0, f"{where}: no complete MPEG frame")
    for at in range(0, len(data) - 3, 144):
        h = data[at:at + 4]
        fields = {
            "sync": (h[0] << 3) | (h[1] >> 5),
            "version": (h[1] >> 3) & 3,
            "layer": (h[1] >> 1) & 3,
            "no CRC": h[1] & 1,
            "bit rate index": h[2] >> 4,
            "sample rate index": (h[2] >> 2) & 3,
            "padding": (h[2] >> 1) & 1,
            "channel mode": h[3] >> 6,
        }
        expected = {"sync": 0x7FF, "version": 0, "layer": 1, "no CRC": 1, "bit rate index": 2,
                    "sample rate index": 2, "padding": 0, "channel mode": 3}
        for name, value in expected.items():
            if not check(fields[name] == value,
                         f"{where}: frame at {at}: {name} is {fields[name]}, expected {value}"):
                return


def check_embedded(kind, data, where):
    if kind == "GIF":
        try:
            walk_gif(data)
        except (ValueError, IndexError, struct.error) as error:
            check(False, f"{where}: not a well-formed GIF: {error}")
    elif kind == "BMP":
        check(data[:2] == b"BM", f"{where}: no BMP signature")
        check(len(data) >= 6 and struct.unpack("<I", data[2:6])[0] == len(data),
              f"{where}: BMP file size field does not match the embedded length")
    elif kind == "WAVE":
        check(data[:4] == b"RIFF" and data[8:12] == b"WAVE", f"{where}: no RIFF WAVE header")
        check(len(data) >= 8 and struct.unpack("<I", data[4:8])[0] + 8 == len(data),
              f"{where}: RIFF size + 8 is not the embedded length")
    elif kind == "hex":
        check(re.fullmatch(rb"[0-9a-f]*", data) is not None, f"{where}: not lower-case hex")
    elif kind == "MPEG":
        check_mpeg(data, where)
    elif kind not in ("text", "bytes") and kind not in INTEGER_TYPES:
        check(False, f"{where}: unknown type '{kind}' in formats.md")


def apply_layout(rows, data, where, start=0, env=None):
    """Reads data along the rows from `start`. Returns (fields by name, names, end offset)."""
    env = dict(env or {})
    fields = {}
    cursor = start
    for row in rows:
        here = f"{where}: row '{row.field}'"
        offset = evaluate(row.offset, env, here)
        size = evaluate(row.size, env, here)
        if offset is None or size is None:
            return fields, env, None
        if not check(offset == cursor, f"{here}: offset {offset} but the previous field ends at {cursor}"):
            return fields, env, None
        if not check(offset + size <= len(data), f"{here}: runs past the end of the file"):
            return fields, env, None
        raw = data[offset:offset + size]
        value = raw
        if row.type in INTEGER_TYPES:
            width, order, signed = INTEGER_TYPES[row.type]
            check(size == width, f"{here}: size {size} does not fit type {row.type}")
            value = int.from_bytes(raw, order, signed=signed)
        else:
            check_embedded(row.type, raw, here)
        expected = fixed_value(row.value)
        if expected is not None:
            check(value == expected, f"{here}: holds {value!r}, the table says {expected!r}")
        name = re.sub(r"\s*\(.*\)", "", row.field)
        fields[name] = value
        if row.type in INTEGER_TYPES and re.fullmatch(r"n|L\d", name):
            env[name] = value
        cursor = offset + size
    return fields, env, cursor


# ---- the files ----------------------------------------------------------------------------

def check_source(tables, path):
    data = open(path, "rb").read()
    where = os.path.basename(path)
    fields, env, end = apply_layout(layout(tables, ".skm layout"), data, where)
    if end is None:
        return None
    if fields["flags"] & 8:
        sound_fields, env, end = apply_layout(layout(tables, ".skm sound"), data, where, end, env)
        if end is None:
            return None
        fields.update(sound_fields)
    check(end == len(data), f"{where}: {len(data) - end} bytes after the last field")
    return fields


def frames_of(strip_gif, frame_width):
    width = Image.open(io.BytesIO(strip_gif)).size[0]
    return max(1, width // frame_width)


def check_package(tables, path, source, default_sound):
    data = open(path, "rb").read()
    where = os.path.basename(path)
    fields, _, end = apply_layout(layout(tables, ".trn layout"), data, where)
    if end is None:
        return
    check(end == len(data), f"{where}: {len(data) - end} bytes after the name")
    name = fields["name"]
    source_name = source["name"].split(b"\0")[0]
    check(name == source_name, f"{where}: name {name!r}, the source has {source_name!r}")
    check(fields["identifier"] == hashlib.md5(name).hexdigest().encode(),
          f"{where}: identifier is not the MD5 digest of the name")
    sound = source["sound"] if source["flags"] & 8 else default_sound
    check(fields["sound"] == sound,
          f"{where}: sound is not the {'source' if source['flags'] & 8 else 'default'} sound")

    button = Image.open(io.BytesIO(fields["button"]))
    check(button.format == "BMP" and button.size == (16, 16),
          f"{where}: button is {button.format} {button.size}, expected a 16 x 16 BMP")

    animation = fields["animation"]
    check(animation[:6] == b"GIF87a", f"{where}: animation does not start with GIF87a")
    try:
        frames, delays, disposals, loop = walk_gif(animation)
    except (ValueError, IndexError, struct.error):
        return  # already reported by the layout check
    strip = Image.open(io.BytesIO(source["strip"]))
    expected_frames = frames_of(source["strip"], source["frame width"])
    check(frames == expected_frames, f"{where}: {frames} frames, expected {expected_frames}")
    check(delays == [20] * frames, f"{where}: frame delays {delays}, expected 20 each")
    check(disposals == [2] * frames, f"{where}: disposal methods {disposals}, expected 2 each")
    expected_loop = 0 if source["flags"] & 1 else 1
    check(loop == expected_loop, f"{where}: loop count {loop}, expected {expected_loop}")
    width = min(source["frame width"], strip.size[0])
    picture = Image.open(io.BytesIO(animation))
    check(picture.size == (width, strip.size[1]),
          f"{where}: animation is {picture.size}, expected {(width, strip.size[1])}")


def check_default_sound(tables, path):
    data = open(path, "rb").read()
    _, _, end = apply_layout(layout(tables, "Default sound layout"), data, "default sound")
    check(end == len(data), f"default sound: table ends at {end}, the file has {len(data)} bytes")
    return data


def check_identifier_examples(doc_path):
    text = open(doc_path, encoding="utf-8").read()
    examples = re.findall(r"named `([^`]*)` has the identifier\s+`([0-9a-f]{32})`", text)
    empty = re.findall(r"empty name\s+`([0-9a-f]{32})`", text)
    check(examples and empty, "formats.md: identifier examples not found")
    for name, digest in examples:
        check(hashlib.md5(name.encode()).hexdigest() == digest, f"formats.md: MD5 of {name!r}")
    for digest in empty:
        check(hashlib.md5(b"").hexdigest() == digest, "formats.md: MD5 of the empty name")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--doc", required=True)
    parser.add_argument("--samples", required=True)
    parser.add_argument("--sound", required=True)
    parser.add_argument("--skm2trn")
    args = parser.parse_args()

    tables = read_tables(args.doc)
    check_identifier_examples(args.doc)
    default_sound = check_default_sound(tables, args.sound)

    sources = {}
    for entry in sorted(os.listdir(args.samples)):
        if entry.lower().endswith(".skm"):
            fields = check_source(tables, os.path.join(args.samples, entry))
            if fields is not None:
                sources[entry[:-4]] = fields
    check(sources, f"no sample gesture could be read from {args.samples}")
    check(any(f["flags"] & 8 for f in sources.values()), "no sample carries its own sound")
    check(any(not f["flags"] & 8 for f in sources.values()), "every sample carries a sound")

    if args.skm2trn:
        with tempfile.TemporaryDirectory() as out:
            run = subprocess.run([args.skm2trn, "convert", "-q", args.samples, out],
                                 capture_output=True, text=True)
            check(run.returncode in (0, 1), f"skm2trn convert ended with {run.returncode}: "
                  f"{run.stderr}")
            for base, source in sources.items():
                package = os.path.join(out, base + ".trn")
                convertible = frames_of(source["strip"], source["frame width"]) <= 30
                if check(os.path.exists(package) == convertible,
                         f"{base}: package {'missing' if convertible else 'written'}, "
                         f"the frame rule says {'yes' if convertible else 'no'}"):
                    if convertible:
                        check_package(tables, package, source, default_sound)

    for failure in failures:
        print("FAIL:", failure)
    print(f"{len(failures)} failure(s)" if failures else "formats.md matches the files")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
