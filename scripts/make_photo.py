#!/usr/bin/python3
"""Render a photo-like 8-bit RGB picture, the same on every run, for tests of
models that read the whole picture.

Usage: /usr/bin/python3 scripts/make_photo.py OUT.png [--width W] [--height H]

Default 2000 x 1500. A sky and a ground in smooth gradients, a sun, hills,
shaded discs and boxes, fine texture on the ground, softened as by a lens,
then sensor noise: content that changes across the picture, so that a model
reading all of it sees something else in each part. Everything is drawn
from seeded generators (numpy and Pillow, Debian's python3-numpy and
python3-pil).
"""

import argparse
import os
import sys

import numpy as np
from PIL import Image, ImageDraw, ImageFilter

SEED = 20250308


def render(width, height):
    rng = np.random.RandomState(SEED)
    y, x = np.mgrid[0:height, 0:width].astype(np.float32)
    u, v = x / width, y / height
    horizon = 0.55 + 0.05 * np.sin(u * 7.0)
    sky = np.stack([0.35 + 0.4 * v, 0.55 + 0.3 * v, 0.95 - 0.2 * v], axis=-1)
    ground = np.stack([0.25 + 0.3 * u * (v - 0.5), 0.45 - 0.25 * (v - 0.5), 0.15 + 0.1 * u], axis=-1)
    # Grass-like texture: a few sine waves of random direction and phase.
    texture = np.zeros_like(u)
    for _ in range(6):
        angle, freq, phase = rng.uniform(0, np.pi), rng.uniform(40, 160), rng.uniform(0, 2 * np.pi)
        texture += np.sin((np.cos(angle) * u * width / height + np.sin(angle) * v) * freq + phase)
    ground = ground + 0.025 * texture[..., None]
    picture = np.where((v > horizon)[..., None], ground, sky)
    # A sun with a soft glow.
    d = np.hypot(u - 0.78, (v - 0.18) * height / width)
    picture += np.exp(-(d / 0.05) ** 2)[..., None] * np.array([0.6, 0.5, 0.2], dtype=np.float32)
    # Shaded discs: lit from the top left.
    for _ in range(14):
        cx, cy = rng.uniform(0.05, 0.95), rng.uniform(0.3, 0.95)
        r = rng.uniform(0.02, 0.09)
        colour = rng.uniform(0.1, 0.9, size=3).astype(np.float32)
        dx, dy = (u - cx) * width / height, v - cy
        inside = dx * dx + dy * dy < r * r
        shade = np.clip(1.0 - 0.6 * (dx + dy) / r, 0.3, 1.4)
        picture = np.where(inside[..., None], colour * shade[..., None] * 0.8, picture)
    picture = np.clip(picture, 0.0, 1.0)
    image = Image.fromarray((picture * 255.0 + 0.5).astype(np.uint8), "RGB")
    # Boxes and a few lines, drawn flat, then everything softened.
    draw = ImageDraw.Draw(image)
    for _ in range(10):
        x0, y0 = int(rng.uniform(0, width * 0.9)), int(rng.uniform(height * 0.4, height * 0.95))
        w, h = int(rng.uniform(0.03, 0.12) * width), int(rng.uniform(0.03, 0.1) * height)
        colour = tuple(int(c) for c in rng.randint(20, 235, size=3))
        draw.rectangle([x0, y0, x0 + w, y0 + h], fill=colour)
        draw.rectangle([x0, y0, x0 + w, y0 + h // 6], fill=tuple(min(255, c + 40) for c in colour))
    for _ in range(8):
        points = [(int(rng.uniform(0, width)), int(rng.uniform(0, height))) for _ in range(2)]
        draw.line(points, fill=tuple(int(c) for c in rng.randint(0, 80, size=3)), width=int(rng.randint(2, 6)))
    image = image.filter(ImageFilter.GaussianBlur(radius=1.5))
    noisy = np.asarray(image, dtype=np.float32) + rng.normal(0.0, 4.0, size=(height, width, 3))
    return Image.fromarray(np.clip(noisy + 0.5, 0, 255).astype(np.uint8), "RGB")


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out")
    parser.add_argument("--width", type=int, default=2000)
    parser.add_argument("--height", type=int, default=1500)
    args = parser.parse_args(argv[1:])
    if args.width < 16 or args.height < 16:
        parser.error("the picture must be at least 16 x 16")
    photo = render(args.width, args.height)
    temp = args.out + ".tmp"
    try:
        photo.save(temp, format="PNG")
        os.replace(temp, args.out)
    except BaseException:
        if os.path.exists(temp):
            os.remove(temp)
        raise
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
