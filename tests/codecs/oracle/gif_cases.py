"""GIFs as editors write them, and GIFs whose image gives no pixel, built byte by byte.

metadata_cases(w, h): name -> a GIF whose first image is a w x h picture and that carries
application blocks (XMP with its 257-byte trailer, a colour profile in sub-blocks of 255 and 1
bytes, an empty and an unknown one) before or after the image, with a loop block and a graphic
control block. Every reader should see the plain picture.

blank_cases(w, h): name -> (GIF, cause), cause "undecodable" (a minimum code size outside 2..9,
a first code that is neither a clear code nor a literal) or "no pixels" (no area, data that ends
before its first pixel).
"""
import struct

COLOURS = 16
TABLE = bytes(v for i in range(COLOURS) for v in (i * 16, 255 - i * 8, i * 5 % 256))


def pixels(w, h):
    return [(x * 3 + y * 5 + (x * y) % 7) % COLOURS for y in range(h) for x in range(w)]


def pack(codes, width):
    acc, bits, out = 0, 0, bytearray()
    for c in codes:
        acc |= c << bits
        bits += width
        while bits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            bits -= 8
    if bits:
        out.append(acc)
    return bytes(out)


def literal_lzw(values, minimum=4):
    """Every pixel a literal, with a clear code before the code width would grow."""
    clear = 1 << minimum
    codes, run = [clear], 0
    for v in values:
        if run == clear - 2:
            codes.append(clear)
            run = 0
        codes.append(v)
        run += 1
    return pack(codes + [clear + 1], minimum + 1)


def sub_blocks(data, chunk=255):
    out = bytearray()
    for k in range(0, len(data), chunk):
        part = data[k:k + chunk]
        out += bytes([len(part)]) + part
    return bytes(out) + b"\0"


def application(identifier, blocks):
    return (b"\x21\xff" + bytes([len(identifier)]) + identifier +
            b"".join(bytes([len(b)]) + b for b in blocks) + b"\0")


XMP = (b"\x21\xff\x0bXMP DataXMP" +
       b'<?xpacket begin="\xef\xbb\xbf" id="W5M0MpCehiHzreSzNTczkc9d"?>'
       b'<x:xmpmeta xmlns:x="adobe:ns:meta/"><rdf:RDF><!-- a, b; c --></rdf:RDF></x:xmpmeta>'
       b'<?xpacket end="w"?>' + bytes([1]) + bytes(range(255, -1, -1)) + b"\0")
PROFILE = application(b"ICCRGBG1012", [bytes((0x21 + i) % 256 for i in range(255)), b"\x3b"])
EMPTY = application(b"EMPTYAPP1.0", [])
UNKNOWN = application(b"ZZAPPLIC1.0", [b"\x2c\x3b\x21\x01", b"\x3b" * 7])
LOOP = application(b"NETSCAPE2.0", [b"\x01\x00\x00"])
CONTROL = b"\x21\xf9\x04\x00\x14\x00\x00\x00"


def gif(w, h, before=b"", after=b"", descriptor=None, minimum=4, data=None):
    dw, dh = descriptor or (w, h)
    if data is None:
        data = sub_blocks(literal_lzw(pixels(dw, dh), minimum))
    return (b"GIF89a" + struct.pack("<HHBBB", w, h, 0x83, 0, 0) + TABLE + before +
            b"\x2c" + struct.pack("<HHHHB", 0, 0, dw, dh, 0) + bytes([minimum]) + data +
            after + b"\x3b")


def metadata_cases(w, h):
    return {
        "xmp_before": gif(w, h, before=XMP + LOOP + CONTROL),
        "xmp_after": gif(w, h, before=LOOP + CONTROL, after=XMP),
        "profile_before": gif(w, h, before=LOOP + PROFILE + CONTROL),
        "profile_after": gif(w, h, before=CONTROL, after=PROFILE + LOOP),
        "empty_unknown_before": gif(w, h, before=EMPTY + UNKNOWN + LOOP + CONTROL),
        "empty_unknown_after": gif(w, h, before=LOOP + CONTROL, after=UNKNOWN + EMPTY),
        "everything_both_sides": gif(w, h, before=XMP + PROFILE + EMPTY + LOOP + UNKNOWN + CONTROL,
                                     after=UNKNOWN + XMP + PROFILE + EMPTY),
    }


def blank_cases(w, h):
    cases = {}
    for size in (0, 1, 10, 11, 12, 255):
        # Data that would be valid at that size where one exists.
        data = literal_lzw(pixels(w, h)[:8], size) if size in (10, 11) else b"\x44\x01\x55"
        cases[f"code_size_{size}"] = (gif(w, h, minimum=size, data=sub_blocks(data)), "undecodable")
    cases["first_code_past_table"] = (gif(w, h, data=sub_blocks(pack([31, 31, 17], 5))),
                                      "undecodable")
    cases["clear_then_code_past_table"] = (gif(w, h, data=sub_blocks(pack([16, 20, 3, 17], 5))),
                                           "undecodable")
    cases["end_code_first"] = (gif(w, h, data=sub_blocks(pack([17], 5))), "no pixels")
    cases["empty_data"] = (gif(w, h, data=b"\0"), "no pixels")
    cases[f"area_0x{h}"] = (gif(w, h, descriptor=(0, h)), "no pixels")
    cases[f"area_{w}x0"] = (gif(w, h, descriptor=(w, 0)), "no pixels")
    cases["area_0x0"] = (gif(w, h, descriptor=(0, 0)), "no pixels")
    return cases
