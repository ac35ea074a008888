#!/usr/bin/python3
"""The trip through the paint programs people use: GIMP, ImageMagick and Pillow.

Each program opens what skinsplit writes, and saves the edited levels in each
of its usual ways; skinweld must then give back the very texture that was
split. Run as: interop_test.py [Gimp|ImageMagick|Pillow ...], with SKINSPLIT
and SKINWELD naming the tools. Without a program its tests are skipped, except
under CI, where every program must be there.
"""
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

try:
    from PIL import Image
except ImportError:
    if os.environ.get("CI"):
        raise
    print("Pillow is not installed: skipped")
    sys.exit(77)

SKINSPLIT = os.environ.get("SKINSPLIT", "skinsplit")
SKINWELD = os.environ.get("SKINWELD", "skinweld")
SKINPREP = os.environ.get("SKINPREP", "skinprep")
CONVERT = "/usr/bin/convert"  # ImageMagick itself, whatever else is on the PATH
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
GIMP = "/usr/bin/gimp"
XVFB_RUN = "/usr/bin/xvfb-run"
WEAPON_OF_CHOICE = None

W, H = 32, 16  # not square, so that a swap of width and height shows
REFUSAL = "ERROR! Image is not an 8-bit colour-mapped or grey-scale image!\n"
REPAINT_ERROR = 4.0  # mean difference per colour channel, 0 to 255, of a repaint after skinprep


def repaint(alpha):
    """A gradient of a different colour at every pixel; with alpha, a
    translucent middle."""
    image = Image.new("RGBA" if alpha else "RGB", (W, H))
    for y in range(H):
        for x in range(W):
            colour = (x * 255 // (W - 1), (x * 8 + y * 5) & 255, 255 - y * 255 // (H - 1))
            inside = W // 4 <= x < 3 * W // 4 and H // 4 <= y < 3 * H // 4
            image.putpixel((x, y), colour + ((96 if inside else 255),) if alpha else colour)
    return image


def palette_entry(n):
    """Blue, green, red, alpha: four distinct values, and no two entries alike."""
    return (n & 255, (255 - n) & 255, (3 * n + 7) & 255, (5 * n + 1) & 255)


PALETTE = [palette_entry(n) for n in range(256)]


def block_index(x, y):
    """Index at (x, y), counted from the bottom-left: uniform in 4 x 4 blocks,
    so any nearest-pixel sampling keeps it, and asymmetric, so flips show."""
    return ((x // 4) * 37 + (y // 4) * 11 + 5) & 255


def level(width, height, step):
    return bytes(block_index(x * step, y * step) for y in range(height) for x in range(width))


def stored_pixel(k, size):
    """The TEX bytes of true-colour pixel k: distinct for every pixel."""
    return bytes([k & 255, (k >> 8) * 100 + 17, (k * 7 + 3) & 255, (255 - k) & 255][:size])


def make_tex(subtype):
    out = struct.pack("<HH", W, H) + bytes([subtype, 0, 3, 0, 1, 0, 0, 0, 0, 0])
    if subtype == 1:
        out += b"".join(bytes(e) for e in PALETTE)
        out += level(W, H, 1) + level(W // 2, H // 2, 2) + level(W // 4, H // 4, 4)
    elif subtype == 14:
        out += b"".join(bytes(e) for e in PALETTE)
        out += bytes((k * 3 + 1) & 255 for k in range(W * H * 21 // 16))
    else:
        size = 3 if subtype == 17 else 4
        out += b"".join(stored_pixel(k, size) for k in range(W * H * 21 // 16))
    return out


def expected_pixel(subtype, tex, px, py):
    """What a program must show at column px, row py counted from the top:
    (index or None, (red, green, blue, alpha or None))."""
    k = (H - 1 - py) * W + px  # the stored rows run from the bottom up
    if subtype == 1:
        index = tex[1038 + k]
        e = PALETTE[index]
        return index, (e[2], e[1], e[0], None)
    if subtype == 14:
        e = PALETTE[tex[1038 + k]]
        return None, (e[0], e[1], e[2], e[3])
    size = 3 if subtype == 17 else 4
    s = tex[14 + size * k: 14 + size * (k + 1)]
    return None, (s[0], s[1], s[2], s[3] if size == 4 else None)


def read_tga(path):
    """Header fields and the pixel bytes of an 8-bit image, bottom row first."""
    with open(path, "rb") as f:
        data = f.read()
    id_length, _, image_type = data[0], data[1], data[2]
    first, length, entry_bits = struct.unpack_from("<HHB", data, 3)
    width, height, depth, descriptor = struct.unpack_from("<HHBB", data, 12)
    at = 18 + id_length
    entry_bytes = (entry_bits + 7) // 8
    colour_map = [data[at + i * entry_bytes: at + i * entry_bytes + 3] for i in range(length)]
    at += length * entry_bytes
    pixels = bytearray()
    if depth != 8:
        pass  # only the header matters for the images that are refused
    elif image_type in (9, 11):
        while len(pixels) < width * height:
            packet = data[at]
            count = (packet & 0x7F) + 1
            if packet & 0x80:
                pixels += bytes([data[at + 1]]) * count
                at += 2
            else:
                pixels += data[at + 1: at + 1 + count]
                at += 1 + count
        pixels = pixels[: width * height]
    else:
        pixels = bytearray(data[at: at + width * height])
    rows = [pixels[r * width: (r + 1) * width] for r in range(height)]
    if descriptor & 0x20:
        rows.reverse()
    if descriptor & 0x10:
        rows = [row[::-1] for row in rows]
    return {"type": image_type, "depth": depth, "descriptor": descriptor, "id_length": id_length,
            "width": width, "height": height, "first": first, "colour_map": colour_map,
            "pixels": bytes(b"".join(rows))}


def run(args, cwd, env=None):
    return subprocess.run(args, cwd=cwd, env=env, stdin=subprocess.DEVNULL, capture_output=True,
                          text=True, timeout=300)


def have(program):
    return os.access(program, os.X_OK)


def first_difference(a, b):
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return i
    return None if len(a) == len(b) else min(len(a), len(b))


class Trip(unittest.TestCase):
    """Shared set-up: the split textures of each sub-type in a fresh directory."""

    program = None

    @classmethod
    def setUpClass(cls):
        if cls.program and not have(cls.program):
            if os.environ.get("CI"):
                raise RuntimeError(cls.program + " is missing; the test command installs it")
            raise unittest.SkipTest(cls.program + " is not installed")
        cls.dir = tempfile.mkdtemp(prefix="skininterop.")
        cls.tex = {}
        for subtype in (1, 14, 17, 18):
            cls.tex[subtype] = make_tex(subtype)
            with open(os.path.join(cls.dir, "s%d.tex" % subtype), "wb") as f:
                f.write(cls.tex[subtype])
        result = run([SKINSPLIT, "s1", "s14", "s17", "s18"], cls.dir)
        if result.returncode != 0:
            raise RuntimeError("skinsplit failed: " + result.stderr)
        # The same textures split with --png, in a directory of their own.
        cls.png_dir = os.path.join(cls.dir, "png_split")
        os.makedirs(cls.png_dir)
        for subtype in (1, 14, 17, 18):
            shutil.copy(os.path.join(cls.dir, "s%d.tex" % subtype), cls.png_dir)
        result = run([SKINSPLIT, "--png", "s1", "s14", "s17", "s18"], cls.png_dir)
        if result.returncode != 0:
            raise RuntimeError("skinsplit --png failed: " + result.stderr)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def split_output(self, subtype):
        return os.path.join(self.dir, "tga", "s%d.tga" % subtype)

    @classmethod
    def png_split(cls, subtype):
        return os.path.join(cls.png_dir, "tga", "s%d.png" % subtype)

    def check_png_edit(self, name, image, hole, stroke, colour):
        """An edit of the --png split: hole (left, top, right, bottom, counted
        from the top) cut see-through, stroke painted in colour (red, green,
        blue, alpha); each shows in the welded texture, with the alpha
        painted, and every other pixel keeps its index."""
        welded = self.prep_and_weld(name, image)
        for py in range(H):
            for px in range(W):
                k = 1038 + (H - 1 - py) * W + px
                entry = welded[14 + 4 * welded[k]: 18 + 4 * welded[k]]
                if hole[0] <= px < hole[2] and hole[1] <= py < hole[3]:
                    self.assertEqual(entry[3], 0, (px, py))
                elif stroke[0] <= px < stroke[2] and stroke[1] <= py < stroke[3]:
                    self.assertEqual((entry[2], entry[1], entry[0], entry[3]), colour, (px, py))
                else:
                    self.assertEqual(welded[k], self.tex[1][k], (px, py))

    def check_picture(self, subtype, picture):
        """picture(px, py) -> (index or None, (r, g, b, a or None)) as the program shows it."""
        tex = self.tex[subtype]
        for py in range(H):
            for px in range(W):
                index, colour = expected_pixel(subtype, tex, px, py)
                got_index, got_colour = picture(px, py)
                if index is not None and got_index is not None:
                    self.assertEqual(got_index, index, "index at %d,%d" % (px, py))
                if colour[3] is None:
                    got_colour = got_colour[:3] + (None,)
                self.assertEqual(got_colour, colour, "colour at %d,%d of sub-type %d" % (px, py, subtype))

    def weld_dir(self, name):
        """An image directory with the palette file, ready for three images."""
        path = os.path.join(self.dir, name)
        os.makedirs(path)
        shutil.copy(os.path.join(self.dir, "tga", "s1.pal"), os.path.join(path, name + ".pal"))
        return path

    # name: how the program is asked to save the levels, then the layout the
    # images must have; each program's own table.
    SAVES = {}

    def test_every_way_of_saving_the_levels_welds_the_texture_back(self):
        for name, save in self.SAVES.items():
            with self.subTest(save=name):
                self.save_levels(name, save[0])
                self.check_weld(name, save[-1])

    def check_weld(self, name, layout):
        """skinweld gives back the split texture; the images were saved as layout says."""
        path = os.path.join(self.dir, name)
        for suffix, size in (("_h", (W, H)), ("_m", (W // 2, H // 2)), ("_l", (W // 4, H // 4))):
            image = read_tga(os.path.join(path, name + suffix + ".tga"))
            self.assertEqual((image["width"], image["height"]), size, suffix)
            self.assertEqual(image["depth"], 8, suffix)
            for field, value in layout.items():
                self.assertEqual(image[field], value, "%s of %s%s" % (field, name, suffix))
        with open(os.path.join(self.dir, name + ".tex"), "wb") as f:
            f.write(self.tex[1])
        result = run([SKINWELD, name], self.dir)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr, "")
        with open(os.path.join(self.dir, name + ".tex"), "rb") as f:
            welded = f.read()
        self.assertIsNone(first_difference(welded, self.tex[1]),
                          "welded texture differs from the split one")

    def check_refused(self, name, image_24):
        """A 24-bit high image is refused and the old texture kept."""
        path = self.weld_dir(name)
        shutil.copy(image_24, os.path.join(path, name + "_h.tga"))
        for suffix, step in (("_m", 2), ("_l", 4)):
            good = os.path.join(path, name + suffix + ".tga")
            Image.open(self.split_output(1)).resize((W // step, H // step), Image.NEAREST).save(good)
        self.assertEqual(read_tga(image_24)["depth"], 24)
        old = bytearray(self.tex[1])
        old[1100] ^= 0xFF  # a high-level pixel: a texture that differs from what a weld gives
        with open(os.path.join(self.dir, name + ".tex"), "wb") as f:
            f.write(old)
        result = run([SKINWELD, name], self.dir)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr, REFUSAL)
        with open(os.path.join(self.dir, name + ".tex"), "rb") as f:
            self.assertEqual(f.read(), bytes(old))


    def prep_and_weld(self, name, image):
        """skinprep and skinweld on a copy of the sub-type 1 texture whose split
        image was replaced by image; gives the welded texture."""
        path = os.path.join(self.dir, name)
        os.makedirs(os.path.join(path, "tga"))
        shutil.copy(os.path.join(self.dir, "tga", "s1.pal"), os.path.join(path, "tga"))
        # A TGA or a PNG, saved where skinprep reads it.
        shutil.copy(image, os.path.join(path, "tga", "s1" + os.path.splitext(image)[1]))
        with open(os.path.join(path, "s1.tex"), "wb") as f:
            f.write(self.tex[1])
        for tool in (SKINPREP, SKINWELD):
            result = run([tool, "s1"], path)
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
            self.assertEqual(result.stderr, "")
            if tool == SKINPREP:
                self.last_prep = result
        with open(os.path.join(path, "s1.tex"), "rb") as f:
            return f.read()

    def check_prep(self, name, image):
        """An unedited image however re-saved gives back the very texture."""
        self.assertIsNone(first_difference(self.prep_and_weld(name, image), self.tex[1]),
                          "prepared texture differs from the split one")

    def check_painted(self, name, image, box, colour):
        self.check_box(self.prep_and_weld(name, image), box, colour)

    def check_box(self, welded, box, colour):
        """box (left, top, right, bottom, exclusive, counted from the top) was
        painted in colour (red, green, blue and perhaps alpha): exactly that
        colour there, the old indices (and so the old alpha) elsewhere."""
        for py in range(H):
            for px in range(W):
                k = 1038 + (H - 1 - py) * W + px
                if box[0] <= px < box[2] and box[1] <= py < box[3]:
                    entry = welded[14 + 4 * welded[k]: 14 + 4 * welded[k] + 4]
                    shown = (entry[2], entry[1], entry[0], entry[3])
                    self.assertEqual(shown[:len(colour)], colour, (px, py))
                else:
                    self.assertEqual(welded[k], self.tex[1][k], (px, py))


    def check_repaint(self, name, image):
        """A true-colour repaint with far more colours than the palette holds,
        prepared, welded and split again, shows the painted colours within
        REPAINT_ERROR on average, and the image's alpha where it has one (an
        image without takes the texture's)."""
        painted = Image.open(image)
        has_alpha = painted.mode == "RGBA"
        painted = painted.convert("RGBA")
        welded = self.prep_and_weld(name, image)
        path = os.path.join(self.dir, name)
        # Prepared and welded again with nothing changed: the very same texture.
        result = run([SKINPREP, "s1"], path)
        self.assertTrue(result.stdout.startswith("s1: up to date\n\n**** Press ENTER"), result.stdout)
        self.assertEqual(run([SKINWELD, "s1"], path).returncode, 0)
        with open(os.path.join(path, "s1.tex"), "rb") as f:
            self.assertIsNone(first_difference(f.read(), welded), "the second weld differs")
        # The repaint is the user's: split again it only is when forced.
        result = run([SKINSPLIT, "s1"], path)
        self.assertEqual(result.returncode, 1)
        self.assertIn("skinsplit --force s1", result.stderr)
        result = run([SKINSPLIT, "--force", "s1"], path)
        self.assertEqual(result.returncode, 0, result.stderr)
        split = Image.open(os.path.join(path, "tga", "s1.tga"))
        with open(os.path.join(path, "tga", "s1.pal"), "rb") as f:
            alphas = f.read()[27:1048:4]
        error = 0
        for py in range(H):
            for px in range(W):
                want = painted.getpixel((px, py))
                index = split.getpixel((px, py))
                got = split.convert("RGB").getpixel((px, py)) + (alphas[index],)
                error += sum(abs(a - b) for a, b in zip(want[:3], got[:3]))
                if has_alpha:
                    self.assertEqual(got[3] < 255, want[3] < 255, (px, py))
        print("\n%s: mean error per channel %.2f" % (name, error / (3 * W * H)), file=sys.stderr)
        self.assertLess(error / (3 * W * H), REPAINT_ERROR)


class Pillow(Trip):
    SAVES = {"pil_plain": ({}, {"type": 1, "descriptor": 0}),
             "pil_rle": ({"compression": "tga_rle"}, {"type": 9}),
             "pil_top": ({"orientation": 1, "id_section": b"edited"},
                         {"descriptor": 0x20, "id_length": 6})}

    program = "/usr/bin/python3"

    def picture_of(self, path):
        image = Image.open(path)
        image.load()
        palette = image.getpalette() if image.mode == "P" else None

        def picture(px, py):
            value = image.getpixel((px, py))
            if palette is not None:
                return value, tuple(palette[3 * value: 3 * value + 3]) + (None,)
            return None, tuple(value) + ((None,) if len(value) == 3 else ())
        return image, picture

    def test_reads_every_subtype(self):
        for subtype, mode in ((1, "P"), (14, "RGBA"), (17, "RGB"), (18, "RGBA")):
            image, picture = self.picture_of(self.split_output(subtype))
            self.assertEqual((image.mode, image.size), (mode, (W, H)))
            self.check_picture(subtype, picture)

    def test_palette_file_matches_the_colours_pillow_shows(self):
        """The RIFF palette file, read by its published layout (red, green, blue,
        flags), has the image's colours and carries the alpha in the flags."""
        with open(os.path.join(self.dir, "tga", "s1.pal"), "rb") as f:
            data = f.read()
        self.assertEqual(data[:24], b"RIFF" + struct.pack("<I", 1044) + b"PAL data" +
                         struct.pack("<IHH", 1032, 0x300, 256))
        shown = Image.open(self.split_output(1)).getpalette()
        for n in range(256):
            red, green, blue, flags = data[24 + 4 * n: 28 + 4 * n]
            self.assertEqual([red, green, blue], shown[3 * n: 3 * n + 3], "entry %d" % n)
            self.assertEqual(flags, PALETTE[n][3], "alpha of entry %d" % n)

    def save_levels(self, name, options):
        path = self.weld_dir(name)
        high = Image.open(self.split_output(1))
        for suffix, step in (("_h", 1), ("_m", 2), ("_l", 4)):
            level_image = high if step == 1 else high.resize((W // step, H // step), Image.NEAREST)
            level_image.save(os.path.join(path, name + suffix + ".tga"), **options)

    def test_true_colour_is_refused(self):
        rgb = os.path.join(self.dir, "pil_rgb.tga")
        Image.open(self.split_output(1)).convert("RGB").save(rgb)
        self.check_refused("pil_rgb", rgb)

    def test_prep_takes_rgb_and_rgba_saves(self):
        for mode in ("RGB", "RGBA"):
            saved = os.path.join(self.dir, "pil_%s.tga" % mode)
            Image.open(self.split_output(1)).convert(mode).save(saved)
            self.check_prep("pil_prep_" + mode, saved)

    def test_prep_reduces_a_repaint(self):
        for mode, alpha in (("RGBA", True), ("RGB", False)):
            saved = os.path.join(self.dir, "pil_repaint_%s.tga" % mode)
            repaint(alpha).save(saved)
            self.check_repaint("pil_repaint_" + mode, saved)

    def test_prep_takes_a_painted_rectangle(self):
        from PIL import ImageDraw
        image = Image.open(self.split_output(1)).convert("RGB")
        ImageDraw.Draw(image).rectangle([4, 4, 11, 7], fill=(1, 2, 3))
        saved = os.path.join(self.dir, "pil_painted.tga")
        image.save(saved)
        self.check_painted("pil_painted", saved, (4, 4, 12, 8), (1, 2, 3))

    def test_prep_takes_png_saves(self):
        for mode in ("P", "RGB", "RGBA"):
            saved = os.path.join(self.dir, "pil_%s.png" % mode)
            Image.open(self.split_output(1)).convert(mode).save(saved)
            self.check_prep("pil_png_" + mode, saved)
        # An edit saved as PNG: a translucent stroke.
        from PIL import ImageDraw
        image = Image.open(self.split_output(1)).convert("RGBA")
        ImageDraw.Draw(image).rectangle([4, 10, 27, 11], fill=(1, 2, 3, 128))
        saved = os.path.join(self.dir, "pil_stroke.png")
        image.save(saved)
        self.check_painted("pil_stroke", saved, (4, 10, 28, 12), (1, 2, 3, 128))

    def test_a_png_split_shows_alpha_and_every_resave_comes_back(self):
        """skinsplit --png: a palette PNG whose alpha is each entry's, as the
        game shows it; re-saved in P mode and as RGBA, the very texture."""
        image = Image.open(self.png_split(1))
        self.assertEqual(image.mode, "P")
        shown = image.convert("RGBA")
        for py in range(H):
            for px in range(W):
                index, _ = expected_pixel(1, self.tex[1], px, py)
                e = PALETTE[index]
                self.assertEqual(image.getpixel((px, py)), index)
                self.assertEqual(shown.getpixel((px, py)), (e[2], e[1], e[0], e[3]))
        for subtype, mode in ((14, "RGBA"), (17, "RGB"), (18, "RGBA")):
            other = Image.open(self.png_split(subtype))
            self.assertEqual(other.mode, mode)
            self.check_picture(subtype, lambda px, py, other=other: (
                None, other.getpixel((px, py)) + ((None,) if mode == "RGB" else ())))
        for mode in ("P", "RGBA"):
            saved = os.path.join(self.dir, "pil_pngsplit_%s.png" % mode)
            again = Image.open(self.png_split(1))
            (again if mode == "P" else again.convert(mode)).save(saved)
            self.check_prep("pil_pngsplit_" + mode, saved)
        # A see-through hole cut and a translucent stroke painted, as RGBA.
        from PIL import ImageDraw
        edited = Image.open(self.png_split(1)).convert("RGBA")
        ImageDraw.Draw(edited).rectangle([4, 4, 11, 7], fill=(0, 0, 0, 0))
        ImageDraw.Draw(edited).rectangle([4, 10, 27, 11], fill=(1, 2, 3, 128))
        saved = os.path.join(self.dir, "pil_pngsplit_edit.png")
        edited.save(saved)
        self.check_png_edit("pil_pngsplit_edit", saved, (4, 4, 12, 8), (4, 10, 28, 12),
                            (1, 2, 3, 128))

    def test_prep_reads_a_2_bit_palette_png_with_transparency(self):
        """Four colours, one clear and one half see-through, two bits a pixel:
        no texture, so the palette is made from the image's colours."""
        colours = [(200, 10, 10), (10, 200, 10), (10, 10, 200), (250, 250, 0)]
        alphas = bytes([255, 0, 128, 255])
        image = Image.new("P", (W, H))
        image.putpalette([c for colour in colours for c in colour])
        image.putdata([(x // 3 + y) % 4 for y in range(H) for x in range(W)])
        path = os.path.join(self.dir, "pil_2bit")
        os.makedirs(os.path.join(path, "tga"))
        image.save(os.path.join(path, "tga", "t.png"), bits=2, transparency=alphas)
        with open(os.path.join(path, "tga", "t.png"), "rb") as f:
            self.assertEqual(f.read()[24], 2)  # IHDR's bit depth
        result = run([SKINPREP, "t"], path)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        with open(os.path.join(path, "t", "t.pal"), "rb") as f:
            palette = f.read()[24:1048]
        high = read_tga(os.path.join(path, "t", "t_h.tga"))["pixels"]
        for py in range(H):
            for px in range(W):
                n = (px // 3 + py) % 4
                entry = high[(H - 1 - py) * W + px]
                self.assertEqual(tuple(palette[4 * entry: 4 * entry + 4]),
                                 colours[n] + (alphas[n],), (px, py))

    def test_prep_keeps_the_palettes_alpha_under_an_added_alpha_channel(self):
        """Converted to RGBA (alpha 255 everywhere: the palette's alpha is not in
        the image) with a translucent logo pasted on: the logo keeps its alpha,
        the rest the texture's."""
        image = Image.open(self.split_output(1)).convert("RGBA")
        image.paste(Image.new("RGBA", (8, 4), (1, 2, 3, 128)), (4, 4))
        saved = os.path.join(self.dir, "pil_logo.tga")
        image.save(saved)
        self.check_painted("pil_logo", saved, (4, 4, 12, 8), (1, 2, 3, 128))


class ImageMagick(Trip):
    SAVES = {"im_plain": ([], {"type": 1, "descriptor": 0}),
             "im_rle": (["-compress", "RLE"], {"type": 9}),
             "im_top": (["-auto-orient"], {"descriptor": 0x20}),
             "im_id": (["-set", "comment", "edited"], {"id_length": 6})}

    program = CONVERT

    def test_reads_every_subtype(self):
        for subtype in (1, 14, 17, 18):
            raw = subprocess.run([CONVERT, self.split_output(subtype), "-auto-orient", "-depth", "8",
                                  "rgba:-"], check=True, capture_output=True).stdout
            self.assertEqual(len(raw), W * H * 4)

            def picture(px, py, raw=raw, subtype=subtype):
                r, g, b, a = raw[4 * (py * W + px): 4 * (py * W + px) + 4]
                return None, (r, g, b, a if subtype in (14, 18) else None)
            self.check_picture(subtype, picture)
        # Indices and colour map: ImageMagick's own copy of the image keeps both.
        copy = os.path.join(self.dir, "im_copy.tga")
        subprocess.run([CONVERT, self.split_output(1), "-compress", "none", copy], check=True)
        image = read_tga(copy)
        self.assertEqual(image["pixels"], self.tex[1][1038:1038 + W * H])
        self.assertEqual(image["colour_map"], [bytes(e[:3]) for e in PALETTE])

    def save_levels(self, name, options):
        path = self.weld_dir(name)
        for suffix, step in (("_h", 1), ("_m", 2), ("_l", 4)):
            resize = [] if step == 1 else ["-sample", "%dx%d!" % (W // step, H // step)]
            subprocess.run([CONVERT, self.split_output(1)] + list(options) + resize +
                           [os.path.join(path, name + suffix + ".tga")], check=True)

    def test_true_colour_is_refused(self):
        rgb = os.path.join(self.dir, "im_rgb.tga")
        subprocess.run([CONVERT, self.split_output(1), "-type", "TrueColor", rgb], check=True)
        self.check_refused("im_rgb", rgb)

    def test_prep_reduces_a_repaint(self):
        saved = os.path.join(self.dir, "im_repaint.tga")
        subprocess.run([CONVERT, "-size", "%dx%d" % (W, H), "xc:", "-sparse-color", "Bilinear",
                        "0,0 red %d,0 yellow 0,%d blue %d,%d lime" % (W - 1, H - 1, W - 1, H - 1),
                        "-type", "TrueColor", saved], check=True)
        self.check_repaint("im_repaint", saved)

    def test_prep_takes_png_saves(self):
        # -auto-orient, as the README says: without it the bottom-up rows of
        # the split image come out upside down in a PNG.
        saved = os.path.join(self.dir, "im_plain.png")
        subprocess.run([CONVERT, self.split_output(1), "-auto-orient", saved], check=True)
        self.check_prep("im_png", saved)
        # Sixteen bits a channel with alpha: a repaint with a translucent middle.
        painted = os.path.join(self.dir, "im_repaint16.tga")
        repaint(True).save(painted)
        saved = os.path.join(self.dir, "im_repaint16.png")
        subprocess.run([CONVERT, painted, "-depth", "16", "PNG64:" + saved], check=True)
        with open(saved, "rb") as f:
            self.assertEqual(f.read()[24:26], bytes([16, 6]))  # IHDR: 16 bits, RGBA
        self.check_repaint("im_repaint16", saved)

    def test_the_readmes_recipe(self):
        """The edit exactly as the README prints it: -auto-orient right after
        the input file, then the edit, saved in place."""
        with open(os.path.join(ROOT, "README.md")) as f:
            recipe = [line.strip() for line in f
                      if line.strip().startswith("convert tga/car1.tga -auto-orient ")]
        self.assertEqual(len(recipe), 1)
        path = os.path.join(self.dir, "im_readme")
        os.makedirs(path)
        with open(os.path.join(path, "car1.tex"), "wb") as f:
            f.write(self.tex[1])
        self.assertEqual(run([SKINSPLIT, "car1"], path).returncode, 0)
        env = dict(os.environ, PATH=os.path.dirname(CONVERT) + ":" + os.environ["PATH"])
        subprocess.run(["/bin/sh", "-c", recipe[0]], cwd=path, env=env, check=True)
        for tool in (SKINPREP, SKINWELD):
            result = run([tool, "car1"], path)
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        with open(os.path.join(path, "car1.tex"), "rb") as f:
            self.check_box(f.read(), (4, 4, 12, 8), (1, 2, 3))

    def test_a_png_split_resaved_or_edited_comes_back_as_saved(self):
        for name, options in (("im_pngsplit", []), ("im_pngsplit_rgba", ["-type", "TrueColorAlpha"])):
            saved = os.path.join(self.dir, name + ".png")
            subprocess.run([CONVERT, self.png_split(1)] + options + [saved], check=True)
            self.check_prep(name, saved)
        # A see-through hole and a translucent stroke, each pasted over in place.
        saved = os.path.join(self.dir, "im_pngsplit_edit.png")
        subprocess.run([CONVERT, self.png_split(1), "-alpha", "on",
                        "(", "-size", "8x4", "xc:none", ")", "-geometry", "+4+4",
                        "-compose", "Copy", "-composite",
                        "(", "-size", "24x2", "xc:rgba(1,2,3,0.50196)", ")", "-geometry", "+4+10",
                        "-compose", "Copy", "-composite", saved], check=True)
        self.check_png_edit("im_pngsplit_edit", saved, (4, 4, 12, 8), (4, 10, 28, 12),
                            (1, 2, 3, 128))

    def test_prep_takes_true_colour_saves(self):
        for kind in ("TrueColor", "TrueColorAlpha"):
            saved = os.path.join(self.dir, "im_%s.tga" % kind)
            subprocess.run([CONVERT, self.split_output(1), "-type", kind, saved], check=True)
            self.assertEqual(read_tga(saved)["depth"], 24 if kind == "TrueColor" else 32)
            self.check_prep("im_prep_" + kind, saved)


class Gimp(Trip):
    program = GIMP
    # name: (run-length, GIMP's origin: 1 bottom-left or 0 top-left, the layout it must give)
    SAVES = {"gimp_default": (1, 1, {"type": 9, "descriptor": 0}),
             "gimp_plain": (0, 1, {"type": 1, "descriptor": 0}),
             "gimp_top": (1, 0, {"type": 9, "descriptor": 0x20})}

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        if not have(XVFB_RUN):
            raise RuntimeError("xvfb-run is missing; GIMP needs an X display")
        # One GIMP run does all the work: reading each sub-type back out as PNG
        # (which Pillow reads reliably), and saving the levels in each way.
        script = [
            '(define (load f) (car (gimp-file-load RUN-NONINTERACTIVE f f)))',
            '(define (layer img) (car (gimp-image-get-active-drawable img)))',
            '(define (to-png in out) (let ((img (load in)))'
            # Keep the colour of fully transparent pixels: the alpha is part of the texture.
            ' (file-png-save2 RUN-NONINTERACTIVE img (layer img) out out 0 9 0 0 0 0 0 0 1)'
            ' (gimp-image-delete img)))',
            # The export dialog's choices are kept as the plug-in's last values
            # (run-length flag, then origin: 0 top-left, 1 bottom-left); run
            # non-interactively the plug-in would ignore the origin argument.
            '(define (save-level in out w h rle origin) (let ((img (load in)))'
            ' (gimp-context-set-interpolation INTERPOLATION-NONE)'
            ' (gimp-image-scale img w h)'
            ' (gimp-procedural-db-set-data "file-tga-save" 8 (vector rle 0 0 0 origin 0 0 0))'
            ' (file-tga-save RUN-WITH-LAST-VALS img (layer img) out out rle origin)'
            ' (gimp-image-delete img)))',
            # RGB mode, or back to indexed with a palette made anew and the
            # unused colours removed: what a user does who edits in RGB.
            '(define (save-converted in out indexed) (let ((img (load in)))'
            ' (if (not (= (car (gimp-image-base-type img)) RGB)) (gimp-image-convert-rgb img))'
            ' (if indexed (gimp-image-convert-indexed img 0 0 256 FALSE TRUE ""))'
            ' (gimp-procedural-db-set-data "file-tga-save" 8 (vector 1 0 0 0 1 0 0 0))'
            ' (file-tga-save RUN-WITH-LAST-VALS img (layer img) out out 1 1)'
            ' (gimp-image-delete img)))',
            # GIMP's usual export as PNG, in RGB mode.
            '(define (export-png in out) (let ((img (load in)))'
            ' (gimp-image-convert-rgb img)'
            ' (file-png-save2 RUN-NONINTERACTIVE img (layer img) out out 0 9 0 0 0 0 0 0 0)'
            ' (gimp-image-delete img)))',
            # The --png split in RGB mode with its alpha, perhaps with a hole
            # cleared and a stroke painted at half opacity where it was cleared,
            # exported as PNG, as RGBA or back in indexed mode.
            '(define (png-split-export in out hole stroke indexed) (let* ((img (load in)))'
            ' (if (not (= (car (gimp-image-base-type img)) RGB)) (gimp-image-convert-rgb img))'
            ' (let ((d (layer img)))'
            ' (if (= (car (gimp-drawable-has-alpha d)) FALSE) (gimp-layer-add-alpha d))'
            ' (if hole (begin (gimp-image-select-rectangle img CHANNEL-OP-REPLACE 4 4 8 4)'
            ' (gimp-drawable-edit-clear d)))'
            ' (if stroke (begin (gimp-image-select-rectangle img CHANNEL-OP-REPLACE 4 10 24 2)'
            ' (gimp-drawable-edit-clear d) (gimp-context-set-foreground (list 1 2 3))'
            ' (gimp-context-set-opacity 50.196) (gimp-drawable-edit-fill d FILL-FOREGROUND)'
            ' (gimp-context-set-opacity 100)))'
            ' (gimp-selection-none img))'
            ' (if indexed (gimp-image-convert-indexed img 0 0 256 FALSE FALSE ""))'
            ' (file-png-save2 RUN-NONINTERACTIVE img (layer img) out out 0 9 0 0 0 0 0 0 0)'
            ' (gimp-image-delete img)))',
        ]
        for kind, hole, stroke, indexed in (("pngsplit_rgba", "#f", "#f", "#f"),
                                            ("pngsplit_edit", "#t", "#t", "#f"),
                                            ("pngsplit_indexed", "#f", "#f", "#t")):
            script.append('(png-split-export "%s" "%s" %s %s %s)' % (
                cls.png_split(1), cls.converted_png(kind), hole, stroke, indexed))
        script.append('(save-converted "%s" "%s" #f)' % (cls.split_output_of(1), cls.converted("rgb")))
        # A repaint that GIMP opens and exports as TGA.
        repaint(False).save(os.path.join(cls.dir, "gimp_repaint.png"))
        script.append('(save-converted "%s" "%s" #f)' % (os.path.join(cls.dir, "gimp_repaint.png"),
                                                         cls.converted("repaint")))
        script.append('(save-converted "%s" "%s" #t)' % (cls.split_output_of(1), cls.converted("pruned")))
        script.append('(export-png "%s" "%s")' % (cls.split_output_of(1), cls.converted_png("rgb")))
        for subtype in (1, 14, 17, 18):
            script.append('(to-png "%s" "%s")' % (cls.split_output_of(subtype), cls.png(subtype)))
        for name, (rle, origin, _) in cls.SAVES.items():
            path = os.path.join(cls.dir, name)
            os.makedirs(path)
            shutil.copy(os.path.join(cls.dir, "tga", "s1.pal"), os.path.join(path, name + ".pal"))
            for suffix, step in (("_h", 1), ("_m", 2), ("_l", 4)):
                script.append('(save-level "%s" "%s" %d %d %d %d)' % (
                    cls.split_output_of(1), os.path.join(path, name + suffix + ".tga"),
                    W // step, H // step, rle, origin))
        home = os.path.join(cls.dir, "gimp-home")
        os.makedirs(home)
        env = dict(os.environ, HOME=home, GIMP2_DIRECTORY=os.path.join(home, "profile"),
                   XDG_CONFIG_HOME=os.path.join(home, "config"),
                   XDG_CACHE_HOME=os.path.join(home, "cache"),
                   XDG_DATA_HOME=os.path.join(home, "data"))
        result = run([XVFB_RUN, "-a", GIMP, "-i", "-d", "-f", "-b", "\n".join(script),
                      "-b", "(gimp-quit 0)"], cls.dir, env)
        if result.returncode != 0 or not os.path.exists(cls.png(18)):
            raise RuntimeError("GIMP failed:\n" + result.stdout + result.stderr)

    @classmethod
    def split_output_of(cls, subtype):
        return os.path.join(cls.dir, "tga", "s%d.tga" % subtype)

    @classmethod
    def converted(cls, kind):
        return os.path.join(cls.dir, "gimp_%s.tga" % kind)

    @classmethod
    def converted_png(cls, kind):
        return os.path.join(cls.dir, "gimp_%s.png" % kind)

    @classmethod
    def png(cls, subtype):
        return os.path.join(cls.dir, "gimp_s%d.png" % subtype)

    def weld_dir(self, name):
        path = os.path.join(self.dir, name)
        if name in self.SAVES:
            return path  # laid out by the GIMP run
        return super().weld_dir(name)

    def test_reads_every_subtype(self):
        for subtype in (1, 14, 17, 18):
            image = Image.open(self.png(subtype))
            image.load()
            self.assertEqual(image.size, (W, H))
            palette = image.getpalette() if image.mode == "P" else None
            self.assertEqual(image.mode, {1: "P", 14: "RGBA", 17: "RGB", 18: "RGBA"}[subtype])

            def picture(px, py, image=image, palette=palette):
                value = image.getpixel((px, py))
                if palette is not None:
                    return value, tuple(palette[3 * value: 3 * value + 3]) + (None,)
                return None, tuple(value) + ((None,) if len(value) == 3 else ())
            self.check_picture(subtype, picture)

    def save_levels(self, name, save):
        pass  # the GIMP run in setUpClass saved them

    def test_prep_reduces_a_repaint(self):
        self.check_repaint("gimp_repaint", self.converted("repaint"))

    def test_prep_takes_rgb_and_pruned_indexed_exports(self):
        self.assertEqual(read_tga(self.converted("rgb"))["depth"], 24)
        pruned = read_tga(self.converted("pruned"))
        self.assertEqual(pruned["depth"], 8)
        self.assertLess(len(pruned["colour_map"]), 256)  # the unused colours are gone
        self.check_prep("gimp_prep_rgb", self.converted("rgb"))
        self.check_prep("gimp_prep_pruned", self.converted("pruned"))

    def test_a_png_split_exported_as_rgba_or_edited_comes_back_as_painted(self):
        self.check_prep("gimp_pngsplit_rgba", self.converted_png("pngsplit_rgba"))
        self.check_png_edit("gimp_pngsplit_edit", self.converted_png("pngsplit_edit"),
                            (4, 4, 12, 8), (4, 10, 28, 12), (1, 2, 3, 128))

    def test_an_indexed_png_export_drops_partial_alpha_and_says_so(self):
        """GIMP's indexed mode keeps one see-through entry and no other alpha:
        the summary counts the translucent pixels that came back see-through
        or opaque, and the page marks them."""
        self.prep_and_weld("gimp_pngsplit_indexed", self.converted_png("pngsplit_indexed"))
        translucent = sum(1 for k in range(W * H)
                          if PALETTE[self.tex[1][1038 + k]][3] not in (0, 255))
        found = re.search(r"\nTranslucent in s1\.tex: (\d+) pixels? come out see-through, (\d+) "
                          r"opaque \(marked on the page\)\n", self.last_prep.stdout)
        self.assertIsNotNone(found, self.last_prep.stdout)
        clear, opaque = int(found.group(1)), int(found.group(2))
        self.assertGreater(clear, 0)
        self.assertLessEqual(clear + opaque, translucent)
        with open(os.path.join(self.dir, "gimp_pngsplit_indexed", "s1", "s1_preview.html")) as f:
            page = f.read()
        self.assertIn("became see-through: %d<" % clear, page)
        self.assertIn("became opaque: %d<" % opaque, page)

    def test_prep_takes_rgb_and_indexed_png_exports(self):
        self.check_prep("gimp_png_rgb", self.converted_png("rgb"))
        self.check_prep("gimp_png_indexed", self.png(1))  # the split image exported from indexed mode


CHROMIUM = "/usr/bin/chromium"
CHECKER = {(0x99, 0x99, 0x99), (0xDD, 0xDD, 0xDD)}
OPAQUE, CLEAR, HALF = 102, 51, 25  # entries of alpha 255, 0 and 126 (see palette_entry)


class Chromium(unittest.TestCase):
    """The preview page in a real browser, opened from disk: see-through and
    translucent texels show the checkerboard, the swap control swaps, and
    nothing is fetched from any network."""

    def setUp(self):
        if not have(CHROMIUM):
            if os.environ.get("CI"):
                self.fail("chromium is not installed")
            self.skipTest("chromium is not installed")
        self.dir = tempfile.mkdtemp(prefix="skinpreview.")
        self.addCleanup(shutil.rmtree, self.dir)
        # The texture stores its bottom row first.
        high = bytes(self.entry_shown(x, y) for y in reversed(range(H)) for x in range(W))
        with open(os.path.join(self.dir, "t.tex"), "wb") as f:
            f.write(struct.pack("<HH", W, H) + bytes([1, 0, 3, 0, 1, 0, 0, 0, 0, 0]) +
                    b"".join(bytes(e) for e in PALETTE) + high +
                    bytes([OPAQUE] * (W * H // 4 + W * H // 16)))
        self.assertEqual(run([SKINSPLIT, "t"], self.dir).returncode, 0)
        # One edited texel, so that before and after differ.
        image = Image.open(os.path.join(self.dir, "tga", "t.tga")).convert("RGB")
        image.putpixel((W - 2, 1), (1, 2, 3))
        image.save(os.path.join(self.dir, "tga", "t.tga"))
        prep = run([SKINPREP, "t"], self.dir)
        self.assertEqual(prep.returncode, 0, prep.stderr)
        self.assertIn("Preview: t/t_preview.html\n", prep.stdout)
        self.page = os.path.join(self.dir, "t", "t_preview.html")

    @staticmethod
    def entry_shown(x, y):
        """Opaque all over, with a see-through arch at the bottom left and a
        translucent window at the top right, as the picture shows them."""
        if 2 <= x < 12 and y >= 8:
            return CLEAR
        return HALF if 18 <= x < 28 and 2 <= y < 8 else OPAQUE

    def screenshot(self, fragment, name, size="900,700"):
        shot = os.path.join(self.dir, name + ".png")
        netlog = os.path.join(self.dir, name + ".json")
        result = run([CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu",
                      "--disable-background-networking", "--no-first-run",
                      "--force-device-scale-factor=1", "--hide-scrollbars",
                      "--window-size=" + size, "--log-net-log=" + netlog,
                      "--user-data-dir=" + os.path.join(self.dir, "profile"),
                      "--screenshot=" + shot, "file://" + self.page + fragment], self.dir)
        self.assertTrue(os.path.exists(shot), result.stderr)
        # The browser fetches things of its own ("not an origin"); whatever
        # the page asked for has the page's origin ("null" from disk).
        with open(netlog) as f:
            log = json.load(f)
        types = {number: name for name, number in log["constants"]["logEventTypes"].items()}
        asked = [event["params"].get("url") for event in log["events"]
                 if types.get(event["type"]) == "URL_REQUEST_START_JOB" and "params" in event
                 and event["params"].get("initiator") not in (None, "not an origin")]
        self.assertEqual(asked, [], "the page fetched something")
        return Image.open(shot).convert("RGB")

    def texel(self, shot, origin, x, y):
        """The two screen pixels of a texel's top row, at 2x."""
        return [shot.getpixel((origin[0] + 2 * x + d, origin[1] + 2 * y)) for d in (0, 1)]

    def test_see_through_and_translucent_texels_show_the_checkerboard(self):
        shot = self.screenshot("", "after")
        opaque = tuple(PALETTE[OPAQUE][2::-1])  # red, green, blue
        # The after picture is the first opaque texel from the top left.
        found = [(x, y) for y in range(shot.height) for x in range(shot.width)
                 if shot.getpixel((x, y)) == opaque]
        self.assertTrue(found, "no opaque texel on the page")
        origin = min(found, key=lambda p: (p[1], p[0]))
        arch = set()
        window = set()
        for y in range(H):
            for x in range(W):
                kind = self.entry_shown(x, y)
                seen = self.texel(shot, origin, x, y)
                if kind == CLEAR:
                    arch.update(seen)
                elif kind == HALF:
                    window.update(seen)
                elif (x, y) != (W - 2, 1):
                    self.assertEqual(seen, [opaque, opaque], (x, y))
        self.assertEqual(arch, CHECKER)  # both squares of the checkerboard, nothing else
        self.assertEqual(len(window), 2)  # the window's colour over each square
        self.assertFalse(window & (CHECKER | {opaque}))
        # The swap control puts the texture being replaced in place.
        self.assertEqual(self.texel(shot, origin, W - 2, 1), [(1, 2, 3)] * 2)
        before = self.screenshot("#before", "before")
        self.assertEqual(self.texel(before, origin, W - 2, 1), [opaque] * 2)
        self.assertEqual(self.texel(before, origin, 0, 0), [opaque] * 2)


    def test_a_png_split_shows_the_arch_see_through_and_the_window_blended(self):
        """tga/t.png of skinsplit --png, opened on its own: what the browser
        shows under a picture through the see-through arch, the window's
        colour blended with it, the rest opaque."""
        where = os.path.join(self.dir, "png_split")
        os.makedirs(where)
        shutil.copy(os.path.join(self.dir, "t.tex"), where)
        self.assertEqual(run([SKINSPLIT, "--png", "t"], where).returncode, 0)
        self.page = os.path.join(where, "tga", "t.png")
        shot = self.screenshot("", "png_split", "400,300")
        opaque = tuple(PALETTE[OPAQUE][2::-1])
        found = [(x, y) for y in range(shot.height) for x in range(shot.width)
                 if shot.getpixel((x, y)) == opaque]
        self.assertTrue(found, "no opaque texel shown")
        left, top = min(found, key=lambda p: (p[1], p[0]))
        background = shot.getpixel((left + 2, top + H - 1))  # a texel of the arch
        self.assertNotIn(background, (opaque, tuple(PALETTE[CLEAR][2::-1])))
        for y in range(H):
            for x in range(W):
                seen = shot.getpixel((left + x, top + y))
                kind = self.entry_shown(x, y)
                if kind == CLEAR:
                    self.assertEqual(seen, background, (x, y))
                elif kind == HALF:
                    half = PALETTE[HALF][2::-1]
                    blended = tuple(round(c * 126 / 255 + b * (1 - 126 / 255))
                                    for c, b in zip(half, background))
                    self.assertTrue(all(abs(a - b) <= 2 for a, b in zip(seen, blended)),
                                    (x, y, seen, blended))
                else:
                    self.assertEqual(seen, opaque, (x, y))

    def test_a_picture_shown_twice_is_carried_once_and_shows_in_both_places(self):
        with open(self.page) as f:
            html = f.read()
        copies = re.findall(r'<img[^>]*data-copy-of="([^"]+)"', html)
        self.assertEqual(len(copies), 2, "medium and low at the high level's size")
        dom = run([CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                   "--user-data-dir=" + os.path.join(self.dir, "profile"), "--dump-dom",
                   "file://" + self.page], self.dir).stdout
        sources = dict(re.findall(r'<img[^>]*id="([^"]+)"[^>]*src="(data:image/png;base64,[^"]+)"',
                                  dom))
        shown = re.findall(r'<img[^>]*data-copy-of="([^"]+)"[^>]*src="([^"]+)"', dom)
        self.assertEqual(sorted(shown), sorted((name, sources[name]) for name in copies))

    def test_what_changed_is_marked_by_kind_beside_before_and_after(self):
        """In a window 1,280 pixels wide, "What changed" shows beside the
        texture: the painted texel in magenta, and the key's five marks."""
        shot = self.screenshot("", "changed", "1280,900")
        seen = set(shot.getdata())
        for mark in ((255, 0, 255), (255, 128, 0), (0, 255, 255), (255, 255, 0), (0, 0, 255)):
            self.assertIn(mark, seen)
        opaque = tuple(PALETTE[OPAQUE][2::-1])
        found = [(x, y) for y in range(shot.height) for x in range(shot.width)
                 if shot.getpixel((x, y)) == opaque]
        left, top = min(found, key=lambda p: (p[1], p[0]))
        magenta = (255, 0, 255)

        def at(x, y):
            return 0 <= x < shot.width and 0 <= y < shot.height and shot.getpixel((x, y)) == magenta
        # The painted texel: one block of two by two screen pixels, to the right
        # of the texture and in the rows beside it; the key's mark is larger.
        texels = [(x, y) for y in range(max(0, top - 2 * H), top + 2 * H)
                  for x in range(left + 2 * W, shot.width)
                  if all(at(x + dx, y + dy) for dx in (0, 1) for dy in (0, 1)) and
                  not any(at(x + dx, y + dy) for dx, dy in ((-1, 0), (2, 0), (0, -1), (0, 2)))]
        self.assertEqual(len(texels), 1, "the painted texel, at 2x, beside the texture")


if __name__ == "__main__":
    unittest.main(verbosity=2)
