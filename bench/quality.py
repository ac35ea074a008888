#!/usr/bin/python3
"""How good skinprep's pictures are, side by side with pngquant and exact references.

Run through bench/quality.sh: quality.py NEW_BUILD OLD_BUILD, each a build
directory holding a skinprep. Every picture is 256 x 256:

- photographs: scikit-image's astronaut, coffee, chelsea and rocket, and
  GIMP's splash (from Debian's python3-skimage and gimp-data), scaled down;
- a synthetic skin: flat panels, gradients, anti-aliased shapes, a 1-pixel
  grille and a window at alpha 96;
- a pattern: a black and white 1-pixel checker, with a palette file that
  also holds grey 128 and grey 188.

Tables: (a) reducing the whole picture (no texture): RMSE against the
picture, and after a 3 x 3 blur of both (what dithering looks like from a
step away), against pngquant's default; (b) the medium and low levels
against the picture scaled down in linear light, weighted by alpha, and the
same reference mapped to the same palette by its nearest entry; (c) a quarter
of a texture made from the photograph repainted with a gradient: the share
of untouched pixels that kept their index at each level, the untouched
pixels' RMSE against the old texture, and the quarter's RMSE against a fresh
reduction of the edited picture. RMSE is over red, green, blue and alpha,
0 to 255.
"""
import os
import shutil
import statistics
import struct
import subprocess
import sys
import time

import numpy as np
from PIL import Image

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WORK = os.path.join(ROOT, "build", "quality")
SKIMAGE = "/usr/lib/python3/dist-packages/skimage/data"
PHOTOS = [("astronaut", SKIMAGE + "/astronaut.png"), ("coffee", SKIMAGE + "/coffee.png"),
          ("chelsea", SKIMAGE + "/chelsea.png"), ("rocket", SKIMAGE + "/rocket.jpg"),
          ("splash", "/usr/share/gimp/2.0/images/gimp-splash.png")]
SIDE = 256
FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"


def photo(path, size=SIDE):
    image = Image.open(path).convert("RGBA")
    side = min(image.size)
    left, top = (image.width - side) // 2, (image.height - side) // 2
    image = image.crop((left, top, left + side, top + side)).resize((size, size), Image.LANCZOS)
    return np.asarray(image, dtype=np.uint8).copy()


def skin():
    y, x = np.mgrid[0:SIDE, 0:SIDE]
    out = np.zeros((SIDE, SIDE, 4), np.uint8)
    out[..., 3] = 255
    out[:, :128, :3] = (180, 30, 30)                      # a flat panel
    out[:, 128:, 0] = x[:, 128:] * 2 - 256                # gradients
    out[:, 128:, 1] = y[:, 128:] // 2 + 60
    out[:, 128:, 2] = 200
    grille = (y >= 180) & (y < 220) & (x >= 20) & (x < 108)
    out[grille & (x % 2 == 0), :3] = (20, 20, 20)         # a 1-pixel grille
    out[grille & (x % 2 == 1), :3] = (235, 235, 235)
    big = Image.new("L", (SIDE * 4, SIDE * 4), 0)          # anti-aliased shapes, drawn large
    from PIL import ImageDraw
    draw = ImageDraw.Draw(big)
    draw.ellipse((80, 80, 420, 300), fill=255)
    draw.line((500, 100, 1000, 600), fill=255, width=18)
    draw.rectangle((560, 760, 980, 800), fill=255)
    cover = np.asarray(big.resize((SIDE, SIDE), Image.BOX), dtype=np.float64)[..., None] / 255
    out[..., :3] = (out[..., :3] * (1 - cover) + np.array([250, 220, 40]) * cover).astype(np.uint8)
    window = (y >= 30) & (y < 90) & (x >= 150) & (x < 240)
    out[window, :3] = (90, 140, 200)
    out[window, 3] = 96
    return out


def checker():
    y, x = np.mgrid[0:SIDE, 0:SIDE]
    value = np.where((x + y) % 2 == 0, 0, 255).astype(np.uint8)
    return np.dstack([value, value, value, np.full_like(value, 255)])


def write_tga(path, rgba):
    """A 32-bit image stored top row first."""
    h, w = rgba.shape[:2]
    with open(path, "wb") as f:
        f.write(struct.pack("<BBBHHBHHHHBB", 0, 0, 2, 0, 0, 0, 0, 0, w, h, 32, 0x28))
        f.write(rgba[..., [2, 1, 0, 3]].tobytes())


def write_pal(path, colours):
    entries = list(colours) + [(0, 0, 0, 0)] * (256 - len(colours))
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", 1044) + b"PAL data" + struct.pack("<IHH", 1032, 0x300, 256))
        f.write(b"".join(bytes(e) for e in entries) + bytes(4))


def read_palette(path):
    data = open(path, "rb").read()[24:24 + 1024]
    return np.frombuffer(data, np.uint8).reshape(256, 4).copy()


def read_level(path):
    """The indices of an image skinprep wrote, top row first."""
    data = open(path, "rb").read()
    w, h = struct.unpack_from("<HH", data, 12)
    return np.frombuffer(data[786:786 + w * h], np.uint8).reshape(h, w)[::-1].copy()


def prep(build, directory, picture, palette=None, texture=None):
    """skinprep on picture in a fresh directory, beside a palette file and a
    texture when given; returns the palette, the three levels' indices and
    the seconds it took."""
    shutil.rmtree(directory, ignore_errors=True)
    os.makedirs(os.path.join(directory, "tga"))
    write_tga(os.path.join(directory, "tga", "t.tga"), picture)
    if palette is not None:
        write_pal(os.path.join(directory, "tga", "t.pal"), palette)
    if texture is not None:
        shutil.copy(texture, os.path.join(directory, "t.tex"))
    started = time.perf_counter()
    subprocess.run([os.path.join(build, "skinprep"), "t"], cwd=directory, check=True,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    seconds = time.perf_counter() - started
    out = os.path.join(directory, "t")
    return (read_palette(os.path.join(out, "t.pal")),
            [read_level(os.path.join(out, "t" + s + ".tga")) for s in ("_h", "_m", "_l")], seconds)


def weld(build, directory):
    """skinweld of the build under test (it welds alike before and after)."""
    subprocess.run([os.path.join(build, "skinweld"), "t"], cwd=directory, check=True,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
    return os.path.join(directory, "t.tex")


def rmse(a, b, mask=None):
    d = (a.astype(np.float64) - b.astype(np.float64)) ** 2
    if mask is not None:
        d = d[mask]
    return float(np.sqrt(d.mean()))


def blur(a):
    a = a.astype(np.float64)
    p = np.pad(a, ((1, 1), (1, 1), (0, 0)), mode="edge")
    return sum(p[dy:dy + a.shape[0], dx:dx + a.shape[1]] for dy in range(3) for dx in range(3)) / 9


def to_light(v):
    c = v / 255.0
    return np.where(c <= 0.04045, c / 12.92, ((c + 0.055) / 1.055) ** 2.4)


def from_light(v):
    c = np.where(v <= 0.0031308, v * 12.92, 1.055 * np.clip(v, 0, None) ** (1 / 2.4) - 0.055)
    return np.clip(c * 255 + 0.5, 0, 255)


def scaled_in_light(picture, step):
    """The picture scaled down by step in linear light, weighted by alpha."""
    h, w = picture.shape[0] // step, picture.shape[1] // step
    p = picture[:h * step, :w * step].astype(np.float64).reshape(h, step, w, step, 4)
    alpha = p[..., 3]
    light = to_light(p[..., :3])
    weight = alpha.sum(axis=(1, 3))
    plain = light.mean(axis=(1, 3))
    weighted = (light * alpha[..., None]).sum(axis=(1, 3)) / np.maximum(weight, 1e-9)[..., None]
    rgb = from_light(np.where(weight[..., None] > 0, weighted, plain))
    return np.dstack([rgb, alpha.mean(axis=(1, 3))])


def nearest(picture, palette):
    """Each pixel's nearest palette colour (red, green, blue, alpha)."""
    flat = picture.reshape(-1, 4).astype(np.float64)
    colours = palette.astype(np.float64)
    best = np.empty(len(flat), np.int64)
    for start in range(0, len(flat), 4096):
        chunk = flat[start:start + 4096]
        best[start:start + 4096] = ((chunk[:, None, :] - colours[None]) ** 2).sum(axis=2).argmin(axis=1)
    return colours[best].reshape(picture.shape)


def pngquant(directory, picture):
    path = os.path.join(directory, "in.png")
    Image.fromarray(picture, "RGBA").save(path)
    started = time.perf_counter()
    subprocess.run(["pngquant", "--force", "--output", os.path.join(directory, "out.png"), "256",
                    path], check=True)
    seconds = time.perf_counter() - started
    return np.asarray(Image.open(os.path.join(directory, "out.png")).convert("RGBA")), seconds


def median_seconds(run, times=3):
    return statistics.median(run() for _ in range(times))


def whole(builds, name, picture):
    """(a) and (b) for one picture: rows of figures per build, and pngquant's."""
    d = os.path.join(WORK, name)
    rows = {}
    for label, build in builds.items():
        palette, levels, _ = prep(build, d, picture)
        shown = [palette[level] for level in levels]
        seconds = median_seconds(lambda: prep(build, d, picture)[2])
        medium_truth, low_truth = scaled_in_light(picture, 2), scaled_in_light(picture, 4)
        rows[label] = {
            "rmse": rmse(shown[0], picture), "blurred": rmse(blur(shown[0]), blur(picture)),
            "medium": rmse(shown[1], medium_truth), "low": rmse(shown[2], low_truth),
            "medium_ref": rmse(nearest(medium_truth, palette), medium_truth),
            "low_ref": rmse(nearest(low_truth, palette), low_truth), "ms": seconds * 1000}
    quantized, _ = pngquant(d, picture)
    seconds = median_seconds(lambda: pngquant(d, picture)[1])
    rows["pngquant"] = {"rmse": rmse(quantized, picture),
                        "blurred": rmse(blur(quantized), blur(picture)), "ms": seconds * 1000}
    return rows


def texture_of(build, name, picture):
    """A texture made from picture (all its 256 entries in use): its palette,
    its levels' indices, the picture it shows, and the TEX file."""
    d = os.path.join(WORK, name + "_texture")
    palette, levels, _ = prep(build, d, picture)
    texture = os.path.join(WORK, name + ".tex")
    shutil.copy(weld(build, d), texture)
    return palette, levels, palette[levels[0]], texture


def untouched_blocks(untouched, step):
    """The pixels of a level whose whole block the edit did not touch."""
    h, w = untouched.shape[0] // step, untouched.shape[1] // step
    return untouched[:h * step, :w * step].reshape(h, step, w, step).all(axis=(1, 3))


def edit_row(builds, name, made, edited):
    """How skinprep prepares edited over the texture made, against pngquant's
    reduction of the whole edited picture: the untouched pixels (those the
    edit did not change) that kept their index and colour at each level,
    their colour error, the edit's error and the time."""
    d = os.path.join(WORK, name)
    os.makedirs(d, exist_ok=True)
    old_palette, old_levels, old_shown, texture = made
    untouched = np.all(edited == old_shown, axis=2)
    quantized, _ = pngquant(d, edited)
    row = {"pngquant": rmse(quantized, edited, ~untouched),
           "pngquant_ms": 1000 * median_seconds(lambda: pngquant(d, edited)[1])}
    for label, build in builds.items():
        args = dict(palette=[tuple(e) for e in old_palette], texture=texture)
        palette, levels, _ = prep(build, d, edited, **args)
        kept = []
        for level, old, step in zip(levels, old_levels, (1, 2, 4)):
            mask = untouched_blocks(untouched, step)
            same = (level == old) & np.all(palette[level] == old_palette[old], axis=2)
            kept.append(100.0 * same[mask].mean())
        shown = palette[levels[0]]
        row[label] = {"kept": kept, "untouched": rmse(shown, old_shown, untouched),
                      "edit": rmse(shown, edited, ~untouched),
                      "ms": 1000 * median_seconds(lambda: prep(build, d, edited, **args)[2])}
    return row


def drawn(base, paint):
    """base with a drawing made at four times the size and scaled down, so
    that its edges are anti-aliased as a paint program's are."""
    from PIL import ImageDraw
    big = Image.fromarray(base, "RGBA").resize((SIDE * 4, SIDE * 4), Image.NEAREST)
    paint(ImageDraw.Draw(big))
    return np.asarray(big.resize((SIDE, SIDE), Image.BOX)).copy()


def small_edits(base):
    """A hard-edged logo in four colours, anti-aliased text with a brush
    stroke, and an anti-aliased ellipse."""
    from PIL import ImageDraw, ImageFont
    logo = Image.fromarray(base, "RGBA")
    draw = ImageDraw.Draw(logo)
    for n, colour in enumerate([(230, 30, 30), (250, 250, 250), (20, 20, 120), (250, 200, 0)]):
        draw.rectangle((20 + 12 * n, 20 + 6 * n, 60 + 12 * n, 40 + 6 * n), fill=colour + (255,))
    font = ImageFont.truetype(FONT, 96)

    def text(d):
        d.text((60, 400), "RACE 7", font=font, fill=(250, 250, 20, 255))
        d.line((80, 700, 900, 640), fill=(10, 200, 30, 255), width=14)
    ellipse = (lambda d: d.ellipse((300, 300, 760, 620), outline=(240, 40, 200, 255), width=12))
    return [("logo", np.asarray(logo).copy()), ("text", drawn(base, text)),
            ("ellipse", drawn(base, ellipse))]


def quarters(base, other):
    """The top-left quarter painted over with a gradient, or with a quarter
    of another photograph."""
    half = SIDE // 2
    y, x = np.mgrid[0:half, 0:half]
    gradient = base.copy()
    gradient[:half, :half] = np.dstack([x * 2, 255 - y * 2, x + y, np.full_like(x, 255)])
    photo = base.copy()
    photo[:half, :half] = other[half:, half:]
    return [("gradient quarter", gradient), ("photo quarter", photo)]


def pattern(builds):
    """The checker with black, white, grey 128 and grey 188 in its palette:
    the grey its lower levels pick (188 is the light of black and white)."""
    d = os.path.join(WORK, "checker")
    picks = {}
    for label, build in builds.items():
        palette, levels, _ = prep(build, d, checker(),
                                  palette=[(0, 0, 0, 255), (255, 255, 255, 255),
                                           (128, 128, 128, 255), (188, 188, 188, 255)])
        picks[label] = [int(palette[level[0, 0]][0]) for level in levels[1:]]
    return picks


def large(builds, pictures):
    """A 512 x 512 photograph prepared without a texture, alone and beside a
    palette file (the 256 x 256 texture's), against pngquant: RMSE and time."""
    print("\n(d) A 512 x 512 photograph without a texture: RMSE and time, alone and with a "
          "palette file of all 256 entries beside it")
    print("| picture | alone | with palette file | pngquant | ms alone | ms with file | before | "
          "pngquant ms |")
    print("|---|---|---|---|---|---|---|---|")
    name, path = PHOTOS[0]
    picture = photo(path, 2 * SIDE)
    d = os.path.join(WORK, name + "_512")
    palette = [tuple(e) for e in prep(builds["new"], d, dict(pictures)[name])[0]]
    row = {}
    for label, build in builds.items():
        for file in (None, palette):
            chosen, levels, _ = prep(build, d, picture, palette=file)
            row[label, file is None] = (
                rmse(chosen[levels[0]], picture),
                1000 * median_seconds(lambda: prep(build, d, picture, palette=file)[2]))
    quantized, _ = pngquant(d, picture)
    seconds = median_seconds(lambda: pngquant(d, picture)[1])
    print("| %s | %.2f | %.2f | %.2f | %.0f | %.0f | %.0f / %.0f | %.0f |" % (
        name, row["new", True][0], row["new", False][0], rmse(quantized, picture),
        row["new", True][1], row["new", False][1], row["old", True][1], row["old", False][1],
        seconds * 1000))


def main():
    builds = {"new": sys.argv[1], "old": sys.argv[2]}
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    pictures = [(name, photo(path)) for name, path in PHOTOS if os.path.exists(path)]
    pictures.append(("skin", skin()))
    if sys.argv[3:] != ["edits"]:
        whole_pictures(builds, pictures)
    edits(builds, pictures)
    large(builds, pictures)


def whole_pictures(builds, pictures):
    print("(a) Reducing the whole picture: RMSE (blurred RMSE), time")
    print("| picture | skinprep | before | pngquant | skinprep ms | pngquant ms |")
    print("|---|---|---|---|---|---|")
    lower = []
    for name, picture in pictures:
        r = whole(builds, name, picture)
        lower.append((name, r))
        print("| %s | %.2f (%.2f) | %.2f (%.2f) | %.2f (%.2f) | %.0f | %.0f |" % (
            name, r["new"]["rmse"], r["new"]["blurred"], r["old"]["rmse"], r["old"]["blurred"],
            r["pngquant"]["rmse"], r["pngquant"]["blurred"], r["new"]["ms"], r["pngquant"]["ms"]))

    print("\n(b) Lower levels: RMSE against the picture scaled in light; the reference is that, "
          "mapped to the same palette")
    print("| picture | medium | before | reference | low | before | reference |")
    print("|---|---|---|---|---|---|---|")
    for name, r in lower:
        print("| %s | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f |" % (
            name, r["new"]["medium"], r["old"]["medium"], r["new"]["medium_ref"],
            r["new"]["low"], r["old"]["low"], r["new"]["low_ref"]))
    picks = pattern(builds)
    print("\nChecker: medium and low levels pick grey %s (before: %s)" % (
        " and ".join(map(str, picks["new"])), " and ".join(map(str, picks["old"]))))



def edits(builds, pictures):
    print("\n(c) Edits of a texture whose 256 entries are all in use, prepared with the "
          "texture and its palette file: untouched pixels that kept index and colour (high, "
          "medium, low), their RMSE against the texture, the edit's RMSE against pngquant's "
          "reduction of the whole edited picture, and the time")
    print("| texture, edit | kept % | before | untouched | before | edit | before | pngquant | "
          "ms | before | pngquant ms |")
    print("|---|---|---|---|---|---|---|---|---|---|---|")
    photos = dict(pictures)
    names = list(photos)
    for i, name in enumerate(names):
        made = texture_of(builds["new"], name, photos[name])
        shown = made[2]
        edits = small_edits(shown) if name == "astronaut" else []
        edits += quarters(shown, photos[names[(i + 1) % len(names)]])
        for edit, edited in edits:
            label = name + ", " + edit
            r = edit_row(builds, label.replace(", ", "_").replace(" ", "_"), made, edited)
            print("| %s | %s | %s | %.2f | %.2f | %.2f | %.2f | %.2f | %.0f | %.0f | %.0f |" % (
                label, " / ".join("%.1f" % k for k in r["new"]["kept"]),
                " / ".join("%.1f" % k for k in r["old"]["kept"]), r["new"]["untouched"],
                r["old"]["untouched"], r["new"]["edit"], r["old"]["edit"], r["pngquant"],
                r["new"]["ms"], r["old"]["ms"], r["pngquant_ms"]), flush=True)


if __name__ == "__main__":
    main()
