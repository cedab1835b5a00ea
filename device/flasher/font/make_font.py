#!/usr/bin/env python3
"""Generates console_font.cpp, the flasher's 8 x 15 code page 437 font.

Hand-drawn glyphs come from glyphs.txt beside this script. Accented letters are a basic
letter with an accent drawn over it, shades and blocks are patterns, and box-drawing
characters are assembled from their arms. Run it from anywhere:
    python3 device/flasher/font/make_font.py
"""
import pathlib
import sys

HERE = pathlib.Path(__file__).resolve().parent
ROWS, COLUMNS = 15, 8


def parse_pattern(text, where):
    if len(text) != COLUMNS or set(text) - set(".#"):
        sys.exit(f"{where}: a row is {COLUMNS} characters of '.' and '#': {text!r}")
    return sum(1 << (7 - i) for i, c in enumerate(text) if c == "#")


def read_designs(path):
    glyphs, current = {}, None
    for number, line in enumerate(path.read_text().splitlines(), 1):
        where = f"{path.name}:{number}"
        if not line.strip() or line.startswith("#"):
            continue
        if line.startswith("@"):
            name = line[1:]
            code = int(name, 16) if name.startswith("0x") else ord(name)
            if code in glyphs:
                sys.exit(f"{where}: glyph 0x{code:02X} drawn twice")
            current = glyphs[code] = [0] * ROWS
            continue
        if current is None:
            sys.exit(f"{where}: a row before any glyph")
        rows, pattern = line.split()
        first, _, last = rows.partition("-")
        first, last = int(first), int(last or first)
        if not 0 <= first <= last < ROWS:
            sys.exit(f"{where}: rows {rows} outside 0-{ROWS - 1}")
        for row in range(first, last + 1):
            current[row] = parse_pattern(pattern, where)
    return glyphs


# Accents: rows over a small letter (x-height from row 6) and over a capital (from row 3).
ACCENTS = {
    "acute": {3: "....#...", 4: "...#...."},
    "grave": {3: "..#.....", 4: "...#...."},
    "circumflex": {3: "...##...", 4: "..#..#.."},
    "diaeresis": {4: "..#..#.."},
    "ring": {2: "...##...", 3: "..#..#..", 4: "...##..."},
    "tilde": {3: "..##..#.", 4: ".#..##.."},
    "cedilla": {12: "....#...", 13: "...#...."},
}
CAPITAL_LIFT = 3  # a capital's accent sits three rows higher

# (code, base letter, accent); "dotless" is an i without its dot.
ACCENTED = [
    (0x80, "C", "cedilla"), (0x81, "u", "diaeresis"), (0x82, "e", "acute"),
    (0x83, "a", "circumflex"), (0x84, "a", "diaeresis"), (0x85, "a", "grave"),
    (0x86, "a", "ring"), (0x87, "c", "cedilla"), (0x88, "e", "circumflex"),
    (0x89, "e", "diaeresis"), (0x8A, "e", "grave"), (0x8B, "dotless", "diaeresis"),
    (0x8C, "dotless", "circumflex"), (0x8D, "dotless", "grave"), (0x8E, "A", "diaeresis"),
    (0x8F, "A", "ring"), (0x90, "E", "acute"), (0x93, "o", "circumflex"),
    (0x94, "o", "diaeresis"), (0x95, "o", "grave"), (0x96, "u", "circumflex"),
    (0x97, "u", "grave"), (0x98, "y", "diaeresis"), (0x99, "O", "diaeresis"),
    (0x9A, "U", "diaeresis"), (0xA0, "a", "acute"), (0xA1, "dotless", "acute"),
    (0xA2, "o", "acute"), (0xA3, "u", "acute"), (0xA4, "n", "tilde"), (0xA5, "N", "tilde"),
]


def accented(glyphs, base, accent):
    if base == "dotless":
        rows = list(glyphs[ord("i")])
        rows[4] = 0
    else:
        rows = list(glyphs[ord(base)])
    lift = CAPITAL_LIFT if base.isupper() and accent != "cedilla" else 0
    for row, pattern in ACCENTS[accent].items():
        rows[row - lift] |= parse_pattern(pattern, f"accent {accent}")
    return rows


def shade(even, odd):
    return [parse_pattern(even if r % 2 == 0 else odd, "shade") for r in range(ROWS)]


# Box drawing: (top rows 0-5, row 6, row 7, row 8, bottom rows 9-14). A single line runs
# along column 3 / row 7, a double one along columns 2 and 4 / rows 6 and 8, so that
# neighbouring cells join up.
BOXES = {
    0xB3: ("...#....", "...#....", "...#....", "...#....", "...#...."),
    0xB4: ("...#....", "...#....", "####....", "...#....", "...#...."),
    0xB5: ("...#....", "####....", "...#....", "####....", "...#...."),
    0xB6: ("..#.#...", "..#.#...", "###.#...", "..#.#...", "..#.#..."),
    0xB7: ("........", "........", "#####...", "..#.#...", "..#.#..."),
    0xB8: ("........", "####....", "...#....", "####....", "...#...."),
    0xB9: ("..#.#...", "###.#...", "....#...", "###.#...", "..#.#..."),
    0xBA: ("..#.#...", "..#.#...", "..#.#...", "..#.#...", "..#.#..."),
    0xBB: ("........", "#####...", "....#...", "###.#...", "..#.#..."),
    0xBC: ("..#.#...", "###.#...", "....#...", "#####...", "........"),
    0xBD: ("..#.#...", "..#.#...", "#####...", "........", "........"),
    0xBE: ("...#....", "####....", "...#....", "####....", "........"),
    0xBF: ("........", "........", "####....", "...#....", "...#...."),
    0xC0: ("...#....", "...#....", "...#####", "........", "........"),
    0xC1: ("...#....", "...#....", "########", "........", "........"),
    0xC2: ("........", "........", "########", "...#....", "...#...."),
    0xC3: ("...#....", "...#....", "...#####", "...#....", "...#...."),
    0xC4: ("........", "........", "########", "........", "........"),
    0xC5: ("...#....", "...#....", "########", "...#....", "...#...."),
    0xC6: ("...#....", "...#####", "...#....", "...#####", "...#...."),
    0xC7: ("..#.#...", "..#.#...", "..#.####", "..#.#...", "..#.#..."),
    0xC8: ("..#.#...", "..#.####", "..#.....", "..######", "........"),
    0xC9: ("........", "..######", "..#.....", "..#.####", "..#.#..."),
    0xCA: ("..#.#...", "###.####", "........", "########", "........"),
    0xCB: ("........", "########", "........", "###.####", "..#.#..."),
    0xCC: ("..#.#...", "..#.####", "..#.....", "..#.####", "..#.#..."),
    0xCD: ("........", "########", "........", "########", "........"),
    0xCE: ("..#.#...", "###.####", "........", "###.####", "..#.#..."),
    0xCF: ("...#....", "########", "........", "########", "........"),
    0xD0: ("..#.#...", "..#.#...", "########", "........", "........"),
    0xD1: ("........", "########", "........", "########", "...#...."),
    0xD2: ("........", "........", "########", "..#.#...", "..#.#..."),
    0xD3: ("..#.#...", "..#.#...", "..######", "........", "........"),
    0xD4: ("...#....", "...#####", "...#....", "...#####", "........"),
    0xD5: ("........", "...#####", "...#....", "...#####", "...#...."),
    0xD6: ("........", "........", "..######", "..#.#...", "..#.#..."),
    0xD7: ("..#.#...", "..#.#...", "########", "..#.#...", "..#.#..."),
    0xD8: ("...#....", "########", "...#....", "########", "...#...."),
    0xD9: ("...#....", "...#....", "####....", "........", "........"),
    0xDA: ("........", "........", "...#####", "...#....", "...#...."),
}


def box(parts):
    top, r6, r7, r8, bottom = (parse_pattern(p, "box") for p in parts)
    return [top] * 6 + [r6, r7, r8] + [bottom] * 6


def build():
    glyphs = read_designs(HERE / "glyphs.txt")
    font = {0x00: [0] * ROWS, 0x20: [0] * ROWS, 0xFF: [0] * ROWS}
    font.update(glyphs)
    for code, base, accent in ACCENTED:
        font[code] = accented(glyphs, base, accent)
    font[0xB0] = shade("#...#...", "..#...#.")
    font[0xB1] = shade("#.#.#.#.", ".#.#.#.#")
    font[0xB2] = shade(".###.###", "##.###.#")
    for code, parts in BOXES.items():
        font[code] = box(parts)
    font[0xDB] = [0xFF] * ROWS
    font[0xDC] = [0x00] * 8 + [0xFF] * 7
    font[0xDD] = [0xF0] * ROWS
    font[0xDE] = [0x0F] * ROWS
    font[0xDF] = [0xFF] * 8 + [0x00] * 7
    missing = [f"0x{c:02X}" for c in range(256) if c not in font]
    if missing:
        sys.exit("no design for " + ", ".join(missing))
    return [font[c] for c in range(256)]


def write(font, path):
    lines = [
        "// Generated by font/make_font.py from font/glyphs.txt; edit those, not this file.",
        "// An original 8 x 15 code page 437 font drawn for this project (see FONT.md).",
        '#include "device/flasher/console_font.h"',
        "",
        "const uint8_t ConsoleFont[kConsoleFontBytes] = {",
    ]
    for code, rows in enumerate(font):
        body = ", ".join(f"0x{r:02X}" for r in rows)
        lines.append(f"    {body},  // 0x{code:02X}")
    lines.append("};")
    path.write_text("\n".join(lines) + "\n")


if __name__ == "__main__":
    write(build(), HERE.parent / "console_font.cpp")
