#!/usr/bin/python3
"""Runs clang-tidy on the files named, except those it passed before as they
are now: a file is known by a checksum of its translation unit as the
compiler sees it (preprocessed, comments and all, so that a NOLINT counts),
of .clang-tidy and of clang-tidy's version. The passes are kept in
~/.cache/skintools/tidy, outside the clone, so that a fresh clone on the
same machine checks only what changed.
  tidy-cached.py BUILD_DIR FILE...
Exits 1, with clang-tidy's findings in BUILD_DIR/../clang-tidy.log, when a
file does not pass."""
import concurrent.futures
import hashlib
import json
import os
import shlex
import subprocess
import sys

build, files = sys.argv[1], [os.path.abspath(f) for f in sys.argv[2:]]
cache = os.path.join(os.environ.get("XDG_CACHE_HOME", os.path.expanduser("~/.cache")),
                     "skintools", "tidy")
os.makedirs(cache, exist_ok=True)
with open(os.path.join(build, "compile_commands.json")) as f:
    commands = {entry["file"]: entry for entry in json.load(f)}
with open(".clang-tidy", "rb") as f:
    settings = f.read()
version = subprocess.run(["clang-tidy", "--version"], capture_output=True, check=True).stdout


def key(path):
    """The checksum a pass of this file is kept under."""
    entry = commands[path]
    words = shlex.split(entry["command"])
    # The same compiler and flags, preprocessing only, to standard output.
    cut = [w for i, w in enumerate(words) if w not in ("-c", "-o") and words[i - 1] != "-o"]
    unit = subprocess.run(cut[:-1] + ["-E", "-P", "-C", cut[-1]], cwd=entry["directory"],
                          capture_output=True, check=True).stdout
    return hashlib.sha256(version + settings + unit).hexdigest()


def check(path):
    """(findings or None, whether clang-tidy ran): its verdict, or the kept pass."""
    mark = os.path.join(cache, key(path))
    if os.path.exists(mark):
        return None, False
    result = subprocess.run(["clang-tidy", "-p", build, "--quiet", path], capture_output=True,
                            text=True)
    if result.returncode != 0:
        return result.stdout + result.stderr, True
    open(mark, "w").close()
    return None, True


with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
    results = list(pool.map(check, files))
failed = [findings for findings, _ in results if findings is not None]
with open(os.path.join(build, "..", "clang-tidy.log"), "w") as log:
    log.write("".join(failed))
print("clang-tidy: %d files, %d checked anew (the rest passed as they are before), "
      "%d with findings" % (len(files), sum(1 for _, ran in results if ran), len(failed)))
sys.exit(1 if failed else 0)
