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
24-bit true colour by ImageMagick (every pixel matched by its colour); the
pages of its sets are removed before each run, so that it prepares them
again rather than find them up to date. The loop with nothing changed is
timed apart, against skinweld over bare directories and against the floor of
a first prepare (see loop_table).

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
LOOP = 200  # sub-type 1 textures of the unchanged loop


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
            forget_pages(d, names)
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


def make_loop(names):
    """The unchanged loop: LOOP split sub-type 1 textures, prepared and welded
    once ("prepared"); the same folders with image directories holding only
    the palette file and the levels ("bare, with tga"), and those directories
    alone beside their TEX files ("bare", as the weld benchmark has them)."""
    loop = [n for s, n in names if s == 1][:LOOP]
    split_dir = os.path.join(WORK, "split")
    split = os.path.join(WORK, "loop", "split")
    os.makedirs(os.path.join(split, "tga"))
    for n in loop:
        shutil.copy(os.path.join(split_dir, n + ".tex"), split)
        for ext in (".tga", ".pal"):
            shutil.copy(os.path.join(split_dir, "tga", n + ext), os.path.join(split, "tga"))
        shutil.copy(os.path.join(split_dir, "tga", "." + n + ".skinsplit-sums"),
                    os.path.join(split, "tga"))
    prepared = os.path.join(WORK, "loop", "prepared")
    shutil.copytree(split, prepared)
    for tool in (SKINPREP, SKINWELD):
        subprocess.run([tool, "--quiet", "--no-pause"] + loop, cwd=prepared, check=True,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
    with_tga = os.path.join(WORK, "loop", "bare_with_tga")
    shutil.copytree(prepared, with_tga)
    bare = os.path.join(WORK, "loop", "bare")
    os.makedirs(bare)
    for n in loop:
        os.remove(os.path.join(with_tga, n, n + "_source.png"))
        os.remove(os.path.join(with_tga, n, n + "_preview.html"))
        shutil.copytree(os.path.join(with_tga, n), os.path.join(bare, n))
        shutil.copy(os.path.join(prepared, n + ".tex"), bare)
    return loop, split, prepared, with_tga, bare


def first_prepare_floor(d, loop, prepared):
    """What a first prepare cannot do without, in this one process: read each
    texture's image, palette file and TEX file, make its image directory,
    and write the six files of its set (the bytes skinprep wrote) through a
    hidden name and a rename, and its record."""
    start = time.perf_counter()
    for n in loop:
        for f in ("tga/%s.tga" % n, "tga/%s.pal" % n, n + ".tex"):
            with open(os.path.join(d, f), "rb") as i:
                i.read()
        os.mkdir(os.path.join(d, n))
        for f in (n + ".pal", n + "_h.tga", n + "_m.tga", n + "_l.tga", n + "_source.png",
                  n + "_preview.html"):
            with open(os.path.join(prepared, n, f), "rb") as i:
                data = i.read()
            hidden = os.path.join(d, n, "." + f + ".partial")
            with open(hidden, "wb") as o:
                o.write(data)
            os.rename(hidden, os.path.join(d, n, f))
        record = os.path.join(d, n, "." + n + ".skinprep-commit")
        with open(record, "w") as o:
            o.write("x")
        os.remove(record)
    return time.perf_counter() - start


def loop_table(names, runs):
    """The loop with nothing changed, each job against skinweld over bare
    directories, all in turn in each run."""
    loop, split, prepared, with_tga, bare = make_loop(names)
    args = ["--quiet", "--no-pause"] + loop
    results = {}
    for r in range(runs):
        fresh = [os.path.join(WORK, "loop", "fresh%d_%s" % (r, k)) for k in ("prep", "floor")]
        for d in fresh:
            shutil.copytree(split, d)
        subprocess.run(["sync"], check=True)
        jobs = {
            "skinweld, bare directories": lambda: run_measured([SKINWELD] + args, bare)[0],
            "skinweld, bare directories with tga/": lambda: run_measured([SKINWELD] + args,
                                                                         with_tga)[0],
            "skinweld over skinprep's directories": lambda: run_measured([SKINWELD] + args,
                                                                         prepared)[0],
            "second skinprep, nothing changed": lambda: run_measured([SKINPREP] + args,
                                                                     prepared)[0],
            "first skinprep": lambda: run_measured([SKINPREP] + args, fresh[0])[0],
            "floor for a first skinprep": lambda: first_prepare_floor(fresh[1], loop, prepared),
        }
        for job, timed in jobs.items():
            results.setdefault(job, []).append(timed())
    median = {job: statistics.median(times) for job, times in results.items()}
    bare_weld = median["skinweld, bare directories"]
    floor = median["floor for a first skinprep"]
    page = os.path.getsize(os.path.join(prepared, loop[0], loop[0] + "_preview.html"))
    memory = os.path.getsize(os.path.join(prepared, loop[0], loop[0] + "_source.png"))
    print("\nThe loop with nothing changed: %d split, unedited sub-type 1 textures of 256 x 256, "
          "%d runs (page %d KiB, memory %d KiB a texture)\n" % (len(loop), runs, page // 1024,
                                                                memory // 1024))
    print("| job | median s | / bare weld | / floor for a first skinprep |")
    print("|---|---|---|---|")
    for job, seconds in median.items():
        print("| %s | %.3f | %.2f | %.2f |" % (job, seconds, seconds / bare_weld, seconds / floor))


def forget_pages(d, names):
    """Removes the pages of sets skinprep made in d, so that the next run
    prepares them again rather than find them up to date."""
    for n in names:
        page = os.path.join(d, n, n + "_preview.html")
        if os.path.exists(page):
            os.remove(page)


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
            if args[0] == SKINPREP:
                forget_pages(cwd, args[1:])
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
    loop_table(names, runs)


if __name__ == "__main__":
    main()
