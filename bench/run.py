#!/usr/bin/python3
"""Times skinsplit and skinweld on a batch of generated textures.

Run through bench/run.sh, which installs and builds what is needed. The batch:
500 sub-type 1 textures of 256 x 256 and 100 each of sub-types 14, 17 and 18,
plus a welding directory for each sub-type 1 texture. Each job runs RUNS times;
the table gives the median and the spread (fastest to slowest) of the wall
times, the ratios to the floor and to ImageMagick, and the peak resident memory
of each tool run.

skinprep runs over the split images of the paletted textures (kept as they
were split, so every pixel keeps its index) and over 100 of them re-saved in
24-bit true colour by ImageMagick (every pixel matched by its colour).

The floor copies the same input bytes to the same number of output files with
one cat (or tee, where one input makes two outputs) per texture. ImageMagick's
convert turns each TGA image that skinsplit wrote into a TGA image, one process
per file, as a user might for a conversion step.
"""
import os
import shutil
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BIN = os.path.join(ROOT, "build", "default")
WORK = os.path.join(ROOT, "build", "bench")
SKINSPLIT = os.path.join(BIN, "skinsplit")
SKINWELD = os.path.join(BIN, "skinweld")
SKINPREP = os.path.join(BIN, "skinprep")
TEXGEN = os.path.join(BIN, "tests", "texgen")
CONVERT = "/usr/bin/convert"
GNU_TIME = "/usr/bin/time"
BATCH = {1: 500, 14: 100, 17: 100, 18: 100}
PREP_RGB = 100  # sub-type 1 textures whose images skinprep gets as 24-bit re-saves


def generate():
    shutil.rmtree(WORK, ignore_errors=True)
    split_dir = os.path.join(WORK, "split")
    os.makedirs(split_dir)
    names = []
    for subtype, count in BATCH.items():
        for i in range(count):
            name = "s%d_%03d" % (subtype, i)
            subprocess.run([TEXGEN, "tex", str(subtype), "256", "256",
                            os.path.join(split_dir, name + ".tex")], check=True)
            names.append((subtype, name))
    subprocess.run([SKINSPLIT] + [n + ".tex" for _, n in names], cwd=split_dir, check=True,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
    weld_dir = os.path.join(WORK, "weld")
    tga = os.path.join(split_dir, "tga")
    for subtype, name in names:
        if subtype != 1:
            continue
        d = os.path.join(weld_dir, name)
        os.makedirs(d)
        shutil.copy(os.path.join(tga, name + ".pal"), os.path.join(d, name + ".pal"))
        shutil.copy(os.path.join(tga, name + ".tga"), os.path.join(d, name + "_h.tga"))
        for suffix, divisor in (("_m", "2"), ("_l", "4")):
            subprocess.run([TEXGEN, "shrink", os.path.join(tga, name + ".tga"), divisor,
                            os.path.join(d, name + suffix + ".tga")], check=True)
        shutil.copy(os.path.join(split_dir, name + ".tex"), os.path.join(weld_dir, name + ".tex"))
    # skinprep on images re-saved in true colour, so that every pixel is
    # matched by its colour rather than taken by its index.
    rgb_dir = os.path.join(WORK, "prep_rgb")
    os.makedirs(os.path.join(rgb_dir, "tga"))
    for subtype, name in names[:PREP_RGB]:
        shutil.copy(os.path.join(split_dir, name + ".tex"), rgb_dir)
        shutil.copy(os.path.join(tga, name + ".pal"), os.path.join(rgb_dir, "tga"))
        subprocess.run([CONVERT, os.path.join(tga, name + ".tga"), "-type", "TrueColor",
                        os.path.join(rgb_dir, "tga", name + ".tga")], check=True)
    return names


QUANTIZE = {256: 20, 512: 5}  # repaints of each size that must be reduced to 256 colours


def generate_repaints():
    """Smooth 32-bit gradients with a translucent part (texgen repaint), with
    neither palette file nor texture: skinprep reduces each to 256 colours."""
    dirs = {}
    for size, count in QUANTIZE.items():
        d = os.path.join(WORK, "quantize%d" % size)
        os.makedirs(os.path.join(d, "tga"))
        for i in range(count):
            subprocess.run([TEXGEN, "repaint", str(size), str(size),
                            os.path.join(d, "tga", "r%02d.tga" % i)], check=True)
        dirs[size] = d
    return dirs


def mean_errors(reference, result):
    """Mean difference per colour channel and of alpha, 0 to 255."""
    colour = alpha = 0
    for want, got in zip(reference.getdata(), result.getdata()):
        colour += abs(want[0] - got[0]) + abs(want[1] - got[1]) + abs(want[2] - got[2])
        alpha += abs(want[3] - got[3])
    pixels = reference.size[0] * reference.size[1]
    return colour / (3 * pixels), alpha / pixels


def skinprep_result(d, name):
    """The high level skinprep wrote, as RGBA: the colour map's colours and the
    palette file's alphas."""
    from PIL import Image
    high = Image.open(os.path.join(d, name, name + "_h.tga"))
    with open(os.path.join(d, name, name + ".pal"), "rb") as f:
        entries = f.read()[24:1048]
    rgba = [tuple(entries[4 * i: 4 * i + 4]) for i in range(256)]
    out = Image.new("RGBA", high.size)
    out.putdata([rgba[i] for i in high.getdata()])
    return out


def quantize_table(dirs, runs):
    """Time per repaint of skinprep and of ImageMagick's -colors 256, and the
    colour error of skinprep, ImageMagick and Pillow's quantize(256)."""
    from PIL import Image
    print("\nReducing repaints to 256 colours (gradient with a translucent part), %d runs:\n" % runs)
    print("| size | repaints | skinprep ms | convert -colors 256 ms | error skinprep | "
          "error ImageMagick | error Pillow | alpha error skinprep / ImageMagick / Pillow |")
    print("|---|---|---|---|---|---|---|---|")
    for size, d in dirs.items():
        names = ["r%02d" % i for i in range(QUANTIZE[size])]
        prep, im = [], []
        for _ in range(runs):
            prep.append(run_measured([SKINPREP] + names, d)[0])
            im.append(shell_seconds("\n".join("%s tga/%s.tga -colors 256 im_%s.tga" % (CONVERT, n, n)
                                              for n in names), d))
        image = Image.open(os.path.join(d, "tga", "r00.tga")).convert("RGBA")
        ours = mean_errors(image, skinprep_result(d, "r00"))
        theirs = mean_errors(image, Image.open(os.path.join(d, "im_r00.tga")).convert("RGBA"))
        pillow = mean_errors(image, image.quantize(256).convert("RGBA"))
        print("| %dx%d | %d | %.1f | %.1f | %.2f | %.2f | %.2f | %.2f / %.2f / %.2f |" % (
            size, size, len(names), 1000 * statistics.median(prep) / len(names),
            1000 * statistics.median(im) / len(names), ours[0], theirs[0], pillow[0],
            ours[1], theirs[1], pillow[1]))


def run_measured(args, cwd):
    """Wall seconds and peak resident memory (KiB) of one process. GNU time
    starts it, since a child of this Python process would count Python's own
    pages up to the moment it starts the tool."""
    report = os.path.join(WORK, "time.txt")
    start = time.perf_counter()
    subprocess.run([GNU_TIME, "-f", "%M", "-o", report] + args, cwd=cwd, check=True,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    elapsed = time.perf_counter() - start
    with open(report) as f:
        return elapsed, int(f.read().split()[-1])


def shell_seconds(script, cwd):
    start = time.perf_counter()
    subprocess.run(["/bin/bash", "-c", script], cwd=cwd, check=True)
    return time.perf_counter() - start


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 5
    with_imagemagick = os.access(CONVERT, os.X_OK)
    print("Generating the batch in %s ..." % WORK, flush=True)
    names = generate()
    repaints = generate_repaints()
    split_dir = os.path.join(WORK, "split")
    weld_dir = os.path.join(WORK, "weld")
    floor_dir = os.path.join(WORK, "floor")
    im_dir = os.path.join(WORK, "imagemagick")
    os.makedirs(os.path.join(floor_dir, "tga"))
    os.makedirs(os.path.join(floor_dir, "tex"))
    os.makedirs(im_dir)
    welded = [n for s, n in names if s == 1]
    prepared = [n for s, n in names if s in (1, 14)]
    prepared_rgb = [n for _, n in names[:PREP_RGB]]
    rgb_dir = os.path.join(WORK, "prep_rgb")
    split_floor = "\n".join(
        ("tee tga/%s.pal <%s/%s.tex >tga/%s.tga" if s == 1 else "cat %s/%s.tex >tga/%s.tga")
        % ((n, split_dir, n, n) if s == 1 else (split_dir, n, n)) for s, n in names)
    weld_floor = "\n".join("cat {w}/{n}/{n}.pal {w}/{n}/{n}_h.tga {w}/{n}/{n}_m.tga "
                           "{w}/{n}/{n}_l.tga >tex/{n}.tex".format(w=weld_dir, n=n)
                           for n in welded)
    imagemagick = "\n".join("%s %s/tga/%s.tga %s.tga" % (CONVERT, split_dir, n, n) for _, n in names)

    results = {}
    memory = {}
    for _ in range(runs):
        for job, (args, cwd) in {"skinsplit": ([SKINSPLIT] + [n for _, n in names], split_dir),
                                 "skinweld": ([SKINWELD] + welded, weld_dir),
                                 "skinprep": ([SKINPREP] + prepared, split_dir),
                                 "skinprep, 24-bit images": ([SKINPREP] + prepared_rgb, rgb_dir),
                                 }.items():
            seconds, rss = run_measured(args, cwd)
            results.setdefault(job, []).append(seconds)
            memory[job] = max(memory.get(job, 0), rss)
        results.setdefault("floor for skinsplit", []).append(shell_seconds(split_floor, floor_dir))
        results.setdefault("floor for skinweld", []).append(shell_seconds(weld_floor, floor_dir))
        if with_imagemagick:
            results.setdefault("imagemagick", []).append(shell_seconds(imagemagick, im_dir))

    median = {job: statistics.median(times) for job, times in results.items()}
    print("\n%d textures to split (%s), %d to weld, %d to prepare from their split images and "
          "%d from 24-bit re-saves; %d runs each\n" % (
              len(names), ", ".join("%d of sub-type %d" % (c, s) for s, c in BATCH.items()),
              len(welded), len(prepared), len(prepared_rgb), runs))
    print("| job | median s | fastest s | slowest s | per texture ms | peak memory KiB |")
    print("|---|---|---|---|---|---|")
    counts = {"skinweld": len(welded), "floor for skinweld": len(welded),
              "skinprep": len(prepared), "skinprep, 24-bit images": len(prepared_rgb)}
    for job, times in results.items():
        count = counts.get(job, len(names))
        print("| %s | %.3f | %.3f | %.3f | %.3f | %s |" % (
            job, median[job], min(times), max(times), 1000 * median[job] / count,
            memory.get(job, "")))
    print()
    print("skinsplit / floor: %.2f" % (median["skinsplit"] / median["floor for skinsplit"]))
    print("skinweld / floor: %.2f" % (median["skinweld"] / median["floor for skinweld"]))
    if with_imagemagick:
        per_im = median["imagemagick"] / len(names)
        print("ImageMagick / skinsplit, per texture: %.1f" % (per_im / (median["skinsplit"] / len(names))))
        print("ImageMagick / skinweld, per texture: %.1f" % (per_im / (median["skinweld"] / len(welded))))
        quantize_table(repaints, runs)


if __name__ == "__main__":
    main()
