#!/usr/bin/env python3
"""Draws every one-bit picture of the program (skins, cursors, icon, About picture) and
writes them as plain PBM files under resources/, plus the resource list marrowbeat.qrc.

    tools/draw_pictures.py [resources folder]

The PBM files are the sources that the build compiles in; this script is how they were
drawn, kept so that a change to a picture is a change to a few lines here. 1 is a dark
pixel (drawn in a widget's ink), 0 a light one (drawn in its paper)."""

import os
import sys

from pixelfont import FONT_3X5, FONT_5X7, LETTERS_5X5


class Pic:
    def __init__(self, w, h, fill=0):
        self.w, self.h = w, h
        self.px = [[fill] * w for _ in range(h)]
        self.hotspot = None

    def set(self, x, y, v=1):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = v

    def get(self, x, y):
        return self.px[y][x] if 0 <= x < self.w and 0 <= y < self.h else 0

    def rect(self, x, y, w, h, v=1):
        for yy in range(y, y + h):
            for xx in range(x, x + w):
                self.set(xx, yy, v)

    def frame(self, x, y, w, h, v=1):
        self.rect(x, y, w, 1, v)
        self.rect(x, y + h - 1, w, 1, v)
        self.rect(x, y, 1, h, v)
        self.rect(x + w - 1, y, 1, h, v)

    def rounded(self, x, y, w, h, v=1):
        """A frame with its four corner pixels cut."""
        self.frame(x, y, w, h, v)
        for cx, cy in ((x, y), (x + w - 1, y), (x, y + h - 1), (x + w - 1, y + h - 1)):
            self.set(cx, cy, 1 - v)

    def hline(self, x0, x1, y, v=1):
        for x in range(x0, x1 + 1):
            self.set(x, y, v)

    def vline(self, x, y0, y1, v=1):
        for y in range(y0, y1 + 1):
            self.set(x, y, v)

    def line(self, x0, y0, x1, y1, v=1):
        dx, dy = abs(x1 - x0), -abs(y1 - y0)
        sx, sy = (1 if x0 < x1 else -1), (1 if y0 < y1 else -1)
        err = dx + dy
        while True:
            self.set(x0, y0, v)
            if x0 == x1 and y0 == y1:
                return
            e2 = 2 * err
            if e2 >= dy:
                err += dy
                x0 += sx
            if e2 <= dx:
                err += dx
                y0 += sy

    def disk(self, cx, cy, r, v=1):
        # The extra 0.3 rounds the four extreme points into the outline.
        for y in range(self.h):
            for x in range(self.w):
                if (x - cx) ** 2 + (y - cy) ** 2 <= (r + 0.3) ** 2:
                    self.set(x, y, v)

    def ring(self, cx, cy, r, thickness=1, v=1):
        for y in range(self.h):
            for x in range(self.w):
                d = (x - cx) ** 2 + (y - cy) ** 2
                if (r + 0.3 - thickness) ** 2 < d <= (r + 0.3) ** 2:
                    self.set(x, y, v)

    def text(self, x, y, s, font=FONT_5X7, v=1, scale=1, spacing=1):
        for ch in s:
            glyph = font[ch]
            for gy, row in enumerate(glyph):
                for gx, c in enumerate(row):
                    if c == '#':
                        self.rect(x + gx * scale, y + gy * scale, scale, scale, v)
            x += (len(glyph[0]) + spacing) * scale
        return x

    def blit(self, other, x, y):
        for yy in range(other.h):
            for xx in range(other.w):
                self.set(x + xx, y + yy, other.px[yy][xx])

    def inverse(self):
        p = Pic(self.w, self.h)
        p.px = [[1 - v for v in row] for row in self.px]
        return p

    def shifted(self, dx, dy, fill=0):
        p = Pic(self.w, self.h, fill)
        for y in range(self.h):
            for x in range(self.w):
                if 0 <= x - dx < self.w and 0 <= y - dy < self.h:
                    p.px[y][x] = self.px[y - dy][x - dx]
        return p

    def pbm(self, comment):
        lines = ["P1", "# " + comment]
        if self.hotspot is not None:
            lines.append("# hotspot %d %d" % self.hotspot)
        lines.append("%d %d" % (self.w, self.h))
        lines += ["".join(str(v) for v in row) for row in self.px]
        return "\n".join(lines) + "\n"


def text_width(s, font=FONT_5X7, scale=1, spacing=1):
    return sum((len(font[c][0]) + spacing) * scale for c in s) - spacing * scale


def centred_text(p, cx, y, s, font=FONT_5X7, v=1, scale=1):
    p.text(cx - text_width(s, font, scale) // 2, y, s, font, v, scale)


# ---------------------------------------------------------------- buttons

def play_up():
    p = Pic(24, 24)
    p.rounded(0, 0, 24, 24)
    p.rounded(1, 1, 22, 22)
    # A triangle pointing right with a 1:2 slope, its weight centred in the button.
    for i, x in enumerate(range(9, 17)):
        half = 8 - i
        p.vline(x, 12 - half, 11 + half)
    return p


def onoff_up():
    p = Pic(17, 17)
    p.ring(8, 8, 8, 2)
    return p


def onoff_down():
    p = Pic(17, 17)
    p.disk(8, 8, 8)
    p.disk(8, 8, 4, 0)
    p.disk(8, 8, 2)
    return p


def arrow_up(pointing_up, pressed):
    p = Pic(7, 9)
    p.rounded(0, 0, 7, 9)
    shift = 1 if pressed else 0
    rows = [(3, 3), (2, 4), (1, 5)]
    top = 3 + shift
    if not pointing_up:
        rows = list(reversed(rows))
    for i, (a, b) in enumerate(rows):
        p.hline(a, b, top + i)
    if pressed:
        q = p.inverse()
        q.rounded(0, 0, 7, 9, 1)
        return q
    return p


def loop_button(n, down):
    p = Pic(10, 18)
    if down:
        # Pressed in: filled, the number one pixel lower and to the right.
        p.rect(0, 0, 10, 18)
        p.text(4, 7, str(n), FONT_3X5, 0)
    else:
        p.frame(0, 0, 10, 18)
        p.text(3, 6, str(n), FONT_3X5)
    for cx, cy in ((0, 0), (9, 0), (0, 17), (9, 17)):
        p.set(cx, cy, 0)
    return p


def menu_up(letter):
    p = Pic(16, 15)
    p.rounded(0, 0, 16, 15)
    p.text(3, 4, letter, FONT_5X7, 1)
    # A small triangle pointing down: the button opens a menu.
    p.hline(10, 14, 9)
    p.hline(11, 13, 10)
    p.set(12, 11)
    return p


# ---------------------------------------------------------------- large skins

def global_bmp():
    p = Pic(79, 166)
    p.frame(0, 0, 79, 166)
    # Frames around the two master sliders (the sliders cover 2..7 and 10..15, 2..136).
    p.frame(1, 1, 17, 137)
    p.vline(9, 1, 137)
    # Letters above the three arrow pairs (7 wide at x 2, 10 and 18).
    p.text(3, 139, "M", LETTERS_5X5)
    p.text(11, 139, "E", LETTERS_5X5)
    p.text(19, 139, "T", LETTERS_5X5)
    # Menu strip: the three buttons sit at (22, 4), (40, 4), (58, 4).
    p.hline(17, 77, 21)
    p.vline(17, 1, 164)
    # Title.
    centred_text(p, 48, 26, "MARROW", FONT_5X7)
    centred_text(p, 48, 35, "BEAT", FONT_5X7)
    # A row of steps, some on: the program in one line.
    pattern = [1, 0, 0, 1, 0, 0, 1, 0, 1, 0, 0, 1]
    for i, on in enumerate(pattern):
        x = 24 + i * 4 + (i // 4)
        if on:
            p.rect(x, 46, 3, 5)
        else:
            p.frame(x, 46, 3, 5)
    # Play button at (36, 60), 24 x 24, and mute at (40, 92), 17 x 17: captions on the left.
    centred_text(p, 27, 70, "PLAY", FONT_3X5)
    centred_text(p, 28, 98, "SOUND", FONT_3X5)
    p.hline(22, 75, 120)
    # Tempo: the field at (25, 149) 53 x 13, arrows at (18, 146) and (18, 155).
    p.text(26, 141, "TEMPO", FONT_3X5)
    p.frame(24, 148, 55, 15)
    p.hline(17, 77, 137)
    return p


def note_bmp():
    p = Pic(37, 162)
    p.frame(0, 0, 37, 162)
    # The step number label sits at (12, 2), 23 x 16; the on/off toggle at (12, 30).
    p.hline(1, 28, 19)
    # Volume slider column: (30, 19) 6 x 115, arrows at (30, 134) and (30, 143).
    p.vline(29, 1, 161)
    p.text(31, 154, "V", FONT_3X5)
    # Pitch: arrows at (1, 63) and (1, 72), field at (8, 65) 21 x 15.
    p.hline(1, 28, 55)
    p.text(3, 57, "P", FONT_3X5)
    p.frame(7, 64, 23, 17)
    # Sound index: arrows at (1, 96) and (1, 105), field at (8, 98).
    p.hline(1, 28, 88)
    p.text(3, 90, "I", FONT_3X5)
    p.frame(7, 97, 23, 17)
    # Pan: slider at (2, 130) 27 x 7; its centre is marked.
    p.hline(1, 28, 120)
    p.text(3, 123, "S", FONT_3X5)
    p.vline(15, 127, 129)
    p.frame(1, 129, 29, 9)
    # D: slider at (2, 153) 27 x 7.
    p.hline(1, 28, 144)
    p.text(3, 146, "D", FONT_3X5)
    p.frame(1, 152, 29, 9)
    return p


def measures_bmp():
    p = Pic(10, 166)
    for y in range(0, 166, 2):
        p.set(9, y)
    for i in range(8):
        p.hline(7, 9, 4 + 20 * i + 8)
    return p


def loop_background():
    p = Pic(125, 41)
    p.frame(0, 0, 125, 20)
    # The next dial covers 1..29, the repeat dial 96..124; each word sits between them with
    # an arrow underneath that points at its dial.
    p.text(33, 4, "next", FONT_3X5)
    p.hline(33, 47, 13)
    p.line(33, 13, 35, 11)
    p.line(33, 13, 35, 15)
    w = text_width("repeat", FONT_3X5)
    p.text(93 - w, 4, "repeat", FONT_3X5)
    p.hline(93 - 15, 92, 13)
    p.line(92, 13, 90, 11)
    p.line(92, 13, 90, 15)
    # Dots between the words.
    for x in range(50, 93 - w - 2, 3):
        p.set(x, 8)
    # Below, the swing dial covers 1..29 as the next dial does, and the word points at it.
    p.frame(0, 21, 125, 20)
    p.text(33, 25, "SWING %", FONT_3X5)
    p.hline(33, 47, 34)
    p.line(33, 34, 35, 32)
    p.line(33, 34, 35, 36)
    return p


def plain():
    return Pic(2, 2)


# ---------------------------------------------------------------- cursors

ARROW = [
    "#           ",
    "##          ",
    "#.#         ",
    "#..#        ",
    "#...#       ",
    "#....#      ",
    "#.....#     ",
    "#......#    ",
    "#.......#   ",
    "#........#  ",
    "#.........# ",
    "#......#####",
    "#...#..#    ",
    "#..##..#    ",
    "#.#  #..#   ",
    "##   #..#   ",
    "#     #..#  ",
    "      #..#  ",
    "       ##   ",
]

HAND = [
    "     ##         ",
    "    #..#        ",
    "    #..#        ",
    "    #..#        ",
    "    #..###      ",
    "    #..#..##    ",
    "    #..#..#.##  ",
    " ## #..#..#..#  ",
    "#..##........#  ",
    "#...#........#  ",
    " #...........#  ",
    "  #..........#  ",
    "  #.........#   ",
    "   #........#   ",
    "   #.......#    ",
    "    #......#    ",
    "    ########    ",
]

def from_rows(rows):
    w = max(len(r) for r in rows)
    p = Pic(w, len(rows))
    for y, r in enumerate(rows):
        for x, c in enumerate(r):
            if c == '#':
                p.set(x, y)
    return p


def arrow_cursor():
    p = from_rows(ARROW)
    p.hotspot = (0, 0)
    return p




def arrow_with_letter(letter):
    p = Pic(21, 21)
    p.blit(from_rows(ARROW), 0, 0)
    # The menu's letter in a box to the lower right of the pointer; the box is closed, so
    # its inside is white.
    p.rect(12, 12, 9, 9, 0)
    p.frame(12, 12, 9, 9)
    for gy, row in enumerate(LETTERS_5X5[letter]):
        for gx, c in enumerate(row):
            if c == '#':
                p.set(14 + gx, 14 + gy)
    p.hotspot = (0, 0)
    return p


def hand_cursor():
    p = from_rows(HAND)
    p.hotspot = (5, 0)
    return p


def push_cursor():
    # The hand with two short strokes beside the fingertip: it is pressing.
    p = Pic(16, 20)
    p.blit(from_rows(HAND), 0, 3)
    p.line(1, 1, 3, 3)
    p.line(10, 1, 8, 3)
    p.hotspot = (5, 3)
    return p


def double_arrow(horizontal, bar):
    # Drawn pointing left and right, then turned for the vertical one.
    rows = [
        "    #         #    ",
        "   ##         ##   ",
        "  #.#         #.#  ",
        " #..###########..# ",
        "#.................#",
        " #..###########..# ",
        "  #.#         #.#  ",
        "   ##         ##   ",
        "    #         #    ",
    ]
    p = from_rows(rows)
    if bar:
        q = Pic(19, 15)
        q.blit(p, 0, 3)
        q.rect(8, 0, 3, 15, 1)
        q.rect(9, 1, 1, 13, 0)
        q.set(9, 7, 0)
        # Bar over the shaft: the shaft interior stays light.
        for x in (8, 10):
            for y in (6, 7, 8):
                q.set(x, y, 0 if y == 7 else 1)
        q.hotspot = (9, 7)
        return q
    if not horizontal:
        q = Pic(p.h, p.w)
        for y in range(p.h):
            for x in range(p.w):
                q.set(y, x, p.get(x, y))
        q.hotspot = (4, 9)
        return q
    p.hotspot = (9, 4)
    return p


def step_arrow(up):
    rows = [
        "     #     ",
        "    #.#    ",
        "   #...#   ",
        "  #.....#  ",
        " #.......# ",
        "####...####",
        "   #...#   ",
        "   #...#   ",
        "   #...#   ",
        "   #####   ",
    ]
    p = from_rows(rows if up else list(reversed(rows)))
    p.hotspot = (5, 0) if up else (5, 9)
    return p


def text_cursor():
    rows = [
        "###.###",
        "   #   ",
        "   #   ",
        "   #   ",
        "   #   ",
        "   #   ",
        "   #   ",
        "   #   ",
        "   #   ",
        "   #   ",
        "   #   ",
        "   #   ",
        "   #   ",
        "   #   ",
        "###.###",
    ]
    p = from_rows([r.replace('.', ' ') for r in rows])
    p.hotspot = (3, 7)
    return p


def general_cursor():
    # A cross with an open centre, for picking a loop.
    p = Pic(15, 15)
    p.vline(7, 0, 5)
    p.vline(7, 9, 14)
    p.hline(0, 5, 7)
    p.hline(9, 14, 7)
    p.frame(5, 5, 5, 5)
    p.set(7, 7)
    p.hotspot = (7, 7)
    return p


# ---------------------------------------------------------------- icon and About

def icon():
    p = Pic(32, 32)
    p.rounded(0, 0, 32, 32)
    p.rounded(1, 1, 30, 30)
    pattern = ["1001", "0110", "1010", "0101"]
    for row, bits in enumerate(pattern):
        for col, b in enumerate(bits):
            x, y = 4 + col * 6 + (col // 2) * 1, 4 + row * 6
            if b == '1':
                p.rect(x, y, 5, 5)
            else:
                p.frame(x, y, 5, 5)
    p.hline(4, 28, 28)
    return p


def about():
    p = Pic(214, 230)
    p.frame(0, 0, 214, 230)
    p.frame(2, 2, 210, 226)
    centred_text(p, 107, 14, "MARROWBEAT", FONT_5X7, 1, 3)
    centred_text(p, 107, 42, "STEP SEQUENCER", FONT_5X7)
    # Sixteen step columns with a melody of bar heights, the first of every beat solid.
    heights = [30, 12, 20, 8, 26, 14, 34, 10, 28, 12, 18, 6, 36, 16, 22, 10]
    for i, h in enumerate(heights):
        x = 19 + i * 11
        p.frame(x, 62, 9, 44)
        if i % 4 == 0:
            p.rect(x + 2, 104 - h, 5, h)
        else:
            p.frame(x + 2, 104 - h, 5, h)
    for i in range(16):
        centred_text(p, 19 + i * 11 + 4, 110, str(i + 1 if i < 9 else (i + 1) % 10), FONT_3X5)
    p.hline(12, 201, 122)
    # The third line, the version, is written by the program (from GLYPHS) at y 156.
    lines = ["WAV SOUNDS", "EIGHT LOOPS OF SIXTEEN STEPS"]
    y = 132
    for s in lines:
        centred_text(p, 107, y, s, FONT_5X7)
        y += 12
    # Loop chain: eight boxes joined by arrows.
    for i in range(8):
        x = 19 + i * 23
        p.frame(x, 178, 13, 13)
        centred_text(p, x + 6, 182, str(i + 1), FONT_3X5)
        if i < 7:
            p.hline(x + 14, x + 21, 184)
            p.set(x + 20, 183)
            p.set(x + 20, 185)
    p.hline(25, 188, 196)
    p.vline(25, 191, 196)
    p.vline(188, 191, 196)
    centred_text(p, 107, 206, "2026", FONT_5X7)
    return p


# The characters the program writes into a picture itself (the About picture's version
# line), in this order: cells of 5 x 7 pixels, 6 pixels apart. MonoPicture knows the order.
RUNTIME_GLYPHS = " .0123456789ABCDEFGHIKLMNOPQRSTUVWXY"


def glyph_strip():
    p = Pic(len(RUNTIME_GLYPHS) * 6, 7)
    for i, ch in enumerate(RUNTIME_GLYPHS):
        p.text(i * 6, 0, ch, FONT_5X7)
    return p


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "resources")
    pictures = {}

    def skin(name, pic, what):
        pictures[("skins", name)] = (pic, what)

    up = play_up()
    skin("PLAYUP", up, "play button, up")
    skin("PLAYDN", up.inverse(), "play button, down: the inverse of PLAYUP")
    skin("ONOFFUP", onoff_up(), "on/off button, off")
    skin("ONOFFDN", onoff_down(), "on/off button, on")
    skin("UPARROWUP", arrow_up(True, False), "up arrow, up")
    skin("UPARROWDN", arrow_up(True, True), "up arrow, pressed")
    skin("DNARROWUP", arrow_up(False, False), "down arrow, up")
    skin("DNARROWDN", arrow_up(False, True), "down arrow, pressed")
    for n in range(1, 9):
        skin("LOOPSCTRL%dUP" % n, loop_button(n, False), "loop %d selector, up" % n)
        skin("LOOPSCTRL%dDN" % n, loop_button(n, True), "loop %d selector, down" % n)
    for name, letter in (("FILE", "F"), ("EDIT", "E"), ("MIDI", "M")):
        u = menu_up(letter)
        skin(name + "UP", u, name.lower() + " menu button, up")
        skin(name + "DN", u.inverse(), name.lower() + " menu button, down: the inverse")
    skin("GLOBALBMP", global_bmp(), "control area")
    skin("NOTEBMP", note_bmp(), "step column")
    skin("MEASURESBMP", measures_bmp(), "loop strip ruler")
    skin("LOOPBKGBMP", loop_background(), "loop popup: the chain row, and the swing row below it")
    skin("PLAIN", plain(), "plain light square")

    cursors = {
        "NOCUR": arrow_cursor(),
        "SIZECUR": double_arrow(True, True),
        "PUSHCUR": push_cursor(),
        "TEXTCUR": text_cursor(),
        "UPCUR": step_arrow(True),
        "DNCUR": step_arrow(False),
        "BARVCUR": double_arrow(False, False),
        "BARHCUR": double_arrow(True, False),
        "GENCUR": general_cursor(),
        "FCUR": arrow_with_letter("F"),
        "ECUR": arrow_with_letter("E"),
        "MCUR": arrow_with_letter("M"),
        "HANDCUR": hand_cursor(),
    }
    for name, pic in cursors.items():
        pictures[("cursors", name)] = (pic, name.lower() + " pointer")
    pictures[("icons", "ICON128")] = (icon(), "program icon")
    pictures[("pictures", "ABOUTBMP")] = (about(), "About box picture")
    pictures[("pictures", "GLYPHS")] = (glyph_strip(), "characters written at run time: " + RUNTIME_GLYPHS)

    files = []
    for (folder, name), (pic, what) in sorted(pictures.items()):
        os.makedirs(os.path.join(root, folder), exist_ok=True)
        rel = "%s/%s.pbm" % (folder, name)
        with open(os.path.join(root, rel), "w") as f:
            f.write(pic.pbm(what))
        files.append(rel)
    with open(os.path.join(root, "marrowbeat.qrc"), "w") as f:
        f.write("<!DOCTYPE RCC>\n<RCC version=\"1.0\">\n<qresource prefix=\"/\">\n")
        for rel in files:
            f.write("    <file>%s</file>\n" % rel)
        f.write("</qresource>\n</RCC>\n")


if __name__ == "__main__":
    main()
