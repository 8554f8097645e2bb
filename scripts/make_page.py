#!/usr/bin/python3
"""Render a page of printed text, the same on every run, for measuring what
tiling does to a text detector.

Usage: /usr/bin/python3 scripts/make_page.py OUT.png [--width W] [--height H]

The page (default 3840 x 3056, 11.7 megapixels) holds a title, then blocks
of one to four columns down to the bottom margin: each block a heading
and paragraphs of left-aligned, wrapped lines, in DejaVu fonts from 14 to 60
pixels, dark ink on white or light paper. The words come from the fixed
vocabulary below, drawn by a seeded generator, so nothing is fetched and
every run gives the same pixels. Needs Debian's python3-pil and
fonts-dejavu-core / fonts-dejavu-extra.
"""

import argparse
import os
import random
import sys

from PIL import Image, ImageDraw, ImageFont

FONT_DIR = "/usr/share/fonts/truetype/dejavu"
BODY_FONTS = ["DejaVuSans.ttf", "DejaVuSerif.ttf", "DejaVuSansCondensed.ttf", "DejaVuSerif-Italic.ttf",
              "DejaVuSansMono.ttf"]
HEADING_FONTS = ["DejaVuSans-Bold.ttf", "DejaVuSerif-Bold.ttf", "DejaVuSansCondensed-Bold.ttf"]
BODY_SIZES = [14, 16, 18, 20, 22, 24, 28]
HEADING_SIZES = [32, 36, 40, 44, 48]
TITLE_SIZE = 60
INKS = [(0, 0, 0), (20, 20, 20), (30, 30, 60), (50, 20, 20), (40, 40, 40)]
PAPERS = [(255, 255, 255), (250, 248, 240), (242, 244, 248)]
SEED = 20250307

VOCABULARY = """
about above across after again against along also among answer area around
autumn balance basket beach before behind below beneath beside between beyond
bicycle bridge bright broad brother building butter cabin camera candle
capital carbon careful castle center century certain chapter charge cheese
circle city clear climate cloud coast coffee collect colour common copper
corner cotton country course cover crystal current dance danger daughter
decide deep desert design detail differ dinner direct distant divide doctor
double dozen during early earth eastern edge effect eight either electric
engine enough equal evening every exact example expect famous farmer father
feather field figure final finger flower follow forest forward fraction
friend garden gather general gentle glass golden govern grass gravel great
ground guide habit harbour harvest heavy hollow honest horizon hundred
hunter island journey kitchen knowledge ladder language lantern large later
leather letter level light limit liquid little machine magnet major market
matter meadow measure metal middle minute mirror modern moment morning
mountain music narrow nation natural needle neighbour never number ocean
office orange order other paper parallel pattern pencil people period
pepper picture planet plant pocket poem point possible powder present
printer problem produce public purple quarter question quiet rabbit railway
reason record region remember report river rocket round rubber saddle salt
school science season second section seven shadow shelter signal silver
simple single sister skill slender smooth soldier solution sound south
spring square station steam stone story straight stream string strong
student subject summer supply surface system table teacher thousand thread
timber tomorrow touch tower travel triangle trouble valley village visit
voice volume wagon water weather western whistle window winter wonder
wooden world yellow yesterday
""".split()


def font(name, size, cache={}):
    key = (name, size)
    if key not in cache:
        cache[key] = ImageFont.truetype(os.path.join(FONT_DIR, name), size)
    return cache[key]


def words(rng, count):
    chosen = [rng.choice(VOCABULARY) for _ in range(count)]
    if rng.random() < 0.3:
        chosen.insert(rng.randrange(len(chosen) + 1), str(rng.randrange(1, 2000)))
    return chosen


def sentence(rng):
    text = " ".join(words(rng, rng.randint(4, 14)))
    return text[0].upper() + text[1:] + rng.choice([".", ".", ".", ",", ";", ":", "?"])


def wrap(text, face, width):
    """Greedy line breaking at spaces, by the rendered width."""
    lines, line = [], ""
    for word in text.split():
        candidate = word if not line else line + " " + word
        if line and face.getlength(candidate) > width:
            lines.append(line)
            line = word
        else:
            line = candidate
    if line:
        lines.append(line)
    return lines


def fill_column(draw, rng, left, top, width, bottom, ink):
    """Paragraphs, one size per column, until no whole line fits."""
    face_name = rng.choice(BODY_FONTS)
    size = rng.choice(BODY_SIZES)
    face = font(face_name, size)
    leading = int(size * rng.uniform(1.3, 1.7))
    y = top
    while y + leading <= bottom:
        text = " ".join(sentence(rng) for _ in range(rng.randint(1, 6)))
        # Some paragraphs are narrower, so that line lengths vary beyond wrapping.
        measure = width if rng.random() < 0.7 else int(width * rng.uniform(0.45, 0.9))
        for line in wrap(text, face, measure):
            if y + leading > bottom:
                return
            draw.text((left, y), line, font=face, fill=ink)
            y += leading
        y += int(leading * rng.uniform(0.4, 1.2))


def render(width, height):
    rng = random.Random(SEED)
    page = Image.new("RGB", (width, height), PAPERS[0])
    draw = ImageDraw.Draw(page)
    margin = max(40, width // 40)
    gutter = max(30, width // 60)
    y = margin
    title = " ".join(w.capitalize() for w in words(rng, 5))
    draw.text((margin, y), title, font=font("DejaVuSerif-Bold.ttf", TITLE_SIZE), fill=INKS[0])
    y += int(TITLE_SIZE * 1.8)
    while y < height - margin - 120:
        block_height = min(rng.randint(300, 900), height - margin - y)
        columns = rng.choice([1, 2, 3, 3, 4, 4])
        paper = rng.choice(PAPERS)
        if paper != PAPERS[0]:  # a light panel behind the block
            draw.rectangle([margin // 2, y - 10, width - margin // 2, y + block_height], fill=paper)
        ink = rng.choice(INKS)
        heading_size = rng.choice(HEADING_SIZES)
        heading = " ".join(words(rng, rng.randint(2, 7))).capitalize()
        draw.text((margin, y), heading, font=font(rng.choice(HEADING_FONTS), heading_size), fill=ink)
        top = y + int(heading_size * 1.6)
        column_width = (width - 2 * margin - (columns - 1) * gutter) // columns
        for c in range(columns):
            left = margin + c * (column_width + gutter)
            fill_column(draw, rng, left, top, column_width, y + block_height, ink)
        y += block_height + rng.randint(30, 80)
    return page


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out")
    parser.add_argument("--width", type=int, default=3840)
    parser.add_argument("--height", type=int, default=3056)
    args = parser.parse_args(argv[1:])
    if args.width < 400 or args.height < 300:
        parser.error("the page must be at least 400 x 300")
    page = render(args.width, args.height)
    temp = args.out + ".tmp"
    try:
        page.save(temp, format="PNG")
        os.replace(temp, args.out)
    except BaseException:
        if os.path.exists(temp):
            os.remove(temp)
        raise
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
