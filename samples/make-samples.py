#!/usr/bin/env python3
"""Writes the bundled sample TGA files, one per variant that needs repair.

Every sample shows the same 48 x 32 picture: a gradient from black at the
bottom left to red on the right and blue at the top, with a yellow letter F
near the top left. The letter has no symmetry, so a picture that comes out
upside down or mirrored is seen at once.

    python3 samples/make-samples.py [output folder]   (default: beside this script)
"""

import os
import struct
import sys

WIDTH, HEIGHT = 48, 32


def picture():
    """Rows top to bottom, each a list of (red, green, blue)."""
    rows = []
    for y in range(HEIGHT):
        row = []
        for x in range(WIDTH):
            red = x * 255 // (WIDTH - 1)
            blue = (HEIGHT - 1 - y) * 255 // (HEIGHT - 1)
            row.append((red, 40, blue))
        rows.append(row)
    # The letter F: a stem and two bars of unequal length.
    for y in range(4, 24):
        for x in range(6, 10):
            rows[y][x] = (255, 230, 0)
    for y in range(4, 8):
        for x in range(10, 24):
            rows[y][x] = (255, 230, 0)
    for y in range(12, 16):
        for x in range(10, 19):
            rows[y][x] = (255, 230, 0)
    return rows


def stored_rows(rows, top_down, right_to_left):
    """The picture's rows in the order and direction a file stores them."""
    ordered = rows if top_down else list(reversed(rows))
    return [list(reversed(r)) if right_to_left else list(r) for r in ordered]


def bgr(colour):
    red, green, blue = colour
    return bytes((blue, green, red))


def bgra(colour):
    return bgr(colour) + b"\xff"


def rgb555(colour):
    red, green, blue = colour
    value = 0x8000 | (red >> 3) << 10 | (green >> 3) << 5 | (blue >> 3)
    return struct.pack("<H", value)


def grey(colour):
    red, green, blue = colour
    return bytes(((red * 30 + green * 59 + blue * 11) // 100,))


def run_length(row_pixels):
    """Run-length packets of one row; pixels are byte strings."""
    out = bytearray()
    i = 0
    while i < len(row_pixels):
        run = 1
        while i + run < len(row_pixels) and run < 128 and row_pixels[i + run] == row_pixels[i]:
            run += 1
        if run > 1:
            out.append(0x80 | (run - 1))
            out += row_pixels[i]
            i += run
            continue
        start = i
        while i < len(row_pixels) and i - start < 128:
            if i + 1 < len(row_pixels) and row_pixels[i + 1] == row_pixels[i]:
                break
            i += 1
        out.append(i - start - 1)
        for pixel in row_pixels[start:i]:
            out += pixel
    return bytes(out)


def header(id_length, colour_map_type, image_type, map_length, entry_size, depth, descriptor):
    return struct.pack("<BBBHHBHHHHBB", id_length, colour_map_type, image_type, 0, map_length,
                       entry_size, 0, 0, WIDTH, HEIGHT, depth, descriptor)


def make(encode, depth, image_type, descriptor=0, image_id=b"", colour_map=b"",
         map_length=0, entry_size=0, rle=False, footer=False):
    rows = stored_rows(picture(), descriptor & 0x20, descriptor & 0x10)
    pixels = bytearray()
    for row in rows:
        encoded = [encode(colour) for colour in row]
        pixels += run_length(encoded) if rle else b"".join(encoded)
    data = header(len(image_id), 1 if colour_map else 0, image_type + (8 if rle else 0),
                  map_length, entry_size, depth, descriptor)
    data += image_id + colour_map + pixels
    if footer:
        # No extension area or developer directory; only the signature.
        data += struct.pack("<II", 0, 0) + b"TRUEVISION-XFILE.\0"
    return data


def colour_mapped_with_16bit_entries():
    """Indices into a palette of 3-3-2 levels, stored as 16-bit entries."""
    def index(colour):
        red, green, blue = colour
        return (red >> 5) << 5 | (green >> 5) << 2 | (blue >> 6)

    palette = b""
    for i in range(256):
        level = (((i >> 5) & 7) * 255 // 7, ((i >> 2) & 7) * 255 // 7, (i & 3) * 255 // 3)
        palette += rgb555(level)
    return make(lambda c: bytes((index(c),)), 8, 1, colour_map=palette, map_length=256,
                entry_size=16)


SAMPLES = {
    "run-length.tga": lambda: make(bgr, 24, 2, rle=True),
    "top-down.tga": lambda: make(bgr, 24, 2, descriptor=0x20),
    "right-to-left.tga": lambda: make(bgra, 32, 2, descriptor=0x10),
    "image-id.tga": lambda: make(bgr, 24, 2, image_id=b"Tessary sample picture"),
    "colour-map-16bit.tga": colour_mapped_with_16bit_entries,
    "greyscale.tga": lambda: make(grey, 8, 3),
    "footer.tga": lambda: make(bgr, 24, 2, footer=True),
    "run-length-top-right-16bit.tga": lambda: make(rgb555, 16, 2, descriptor=0x30, rle=True),
}


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    os.makedirs(folder, exist_ok=True)
    for name, build in SAMPLES.items():
        with open(os.path.join(folder, name), "wb") as file:
            file.write(build())
    print(f"wrote {len(SAMPLES)} samples to {folder}")


if __name__ == "__main__":
    main()
