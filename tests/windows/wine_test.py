#!/usr/bin/python3
"""The Windows tools under Wine: the same files as the native tools, console
line ends of the platform, drive letters, backslashes, the C runtime's error
texts, wildcard arguments, batch files and a console's wait for ENTER,
and the zip's documents.

Run as: wine_test.py WINDOWS_BUILD_DIR NATIVE_BUILD_DIR (scripts/windows-test.sh).
"""
import glob
import os
import pty
import select
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

WINDOWS = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else "build/windows"
NATIVE = os.path.abspath(sys.argv[2]) if len(sys.argv) > 2 else "build/default"
TEXGEN = os.path.join(NATIVE, "tests", "texgen")
PROMPT = "\r\n**** Press ENTER to continue ****\r\n"


class Wine(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.top = tempfile.mkdtemp(prefix="skinwine.")
        cls.env = dict(os.environ, WINEPREFIX=os.path.join(cls.top, "prefix"), WINEDEBUG="-all",
                       WINEDLLOVERRIDES="mscoree,mshtml=")
        # Drive D: is a directory of the test's own.
        subprocess.run(["wineboot", "-i"], env=cls.env, check=True, capture_output=True)
        cls.d_drive = os.path.join(cls.top, "d_drive")
        os.makedirs(cls.d_drive)
        os.symlink(cls.d_drive, os.path.join(cls.top, "prefix", "dosdevices", "d:"))

    @classmethod
    def tearDownClass(cls):
        subprocess.run(["wineserver", "-k"], env=cls.env, capture_output=True)
        shutil.rmtree(cls.top, ignore_errors=True)

    def setUp(self):
        self.dir = tempfile.mkdtemp(dir=self.top)

    def tool(self, name, args, cwd=None, native=False):
        exe = os.path.join(NATIVE, name) if native else os.path.join(WINDOWS, name + ".exe")
        command = [exe] + args if native else ["wine", exe] + args
        return subprocess.run(command, cwd=cwd or self.dir, env=self.env, stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=120)

    def texture(self, name, subtype=1, x=8, y=4, where=None):
        subprocess.run([TEXGEN, "tex", str(subtype), str(x), str(y),
                        os.path.join(where or self.dir, name + ".tex")], check=True)

    def read(self, *parts):
        with open(os.path.join(*parts), "rb") as f:
            return f.read()

    def test_outputs_and_console_match_the_native_tools(self):
        native_dir = tempfile.mkdtemp(dir=self.top)
        for subtype in (1, 14, 17, 18):
            self.texture("s%d" % subtype, subtype, 6, 4)
            self.texture("s%d" % subtype, subtype, 6, 4, where=native_dir)
        names = ["s1", "s14.tex", "s17", "s18"]
        windows = self.tool("skinsplit", names)
        native = self.tool("skinsplit", names, cwd=native_dir, native=True)
        self.assertEqual(windows.returncode, 0, windows.stderr)
        # Files are binary; only the console turns "\n" into the platform's line end.
        self.assertEqual(windows.stdout, native.stdout.replace(b"\n", b"\r\n"))
        for name in ("s1.pal", "s1.tga", "s14.tga", "s17.tga", "s18.tga"):
            self.assertEqual(self.read(self.dir, "tga", name), self.read(native_dir, "tga", name), name)

    def test_runs_lock_a_hidden_lock_file_and_take_turns(self):
        # Windows locks files, not directories: each run locks .NAME.lock with
        # LockFileEx. Runs started together each finish with a whole set.
        self.texture("lk", 1, 64, 32)
        self.assertEqual(self.tool("skinsplit", ["lk"]).returncode, 0)
        self.assertTrue(os.path.exists(os.path.join(self.dir, ".lk.lock")))
        runs = [subprocess.Popen(["wine", os.path.join(WINDOWS, "skinprep.exe"), "lk"],
                                 cwd=self.dir, env=self.env, stdin=subprocess.DEVNULL,
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                for _ in range(3)]
        for run in runs:
            out, err = run.communicate(timeout=120)
            self.assertEqual(run.returncode, 0, err)
            self.assertNotIn(b"WARNING! Could not lock", err)
        self.assertEqual(self.tool("skinweld", ["lk"]).returncode, 0)

    def test_weld_gives_back_the_split_texture(self):
        self.texture("car1", 1, 16, 8)
        original = self.read(self.dir, "car1.tex")
        self.assertEqual(self.tool("skinsplit", ["car1.tex"]).returncode, 0)
        os.makedirs(os.path.join(self.dir, "car1"))
        shutil.copy(os.path.join(self.dir, "tga", "car1.pal"), os.path.join(self.dir, "car1"))
        shutil.copy(os.path.join(self.dir, "tga", "car1.tga"),
                    os.path.join(self.dir, "car1", "car1_h.tga"))
        for suffix, divisor in (("_m", "2"), ("_l", "4")):
            subprocess.run([TEXGEN, "shrink", os.path.join(self.dir, "tga", "car1.tga"), divisor,
                            os.path.join(self.dir, "car1", "car1" + suffix + ".tga")], check=True)
        result = self.tool("skinweld", ["car1.TEX"])
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(result.stdout.endswith(b"Saving low LOD...done!\r\n" + PROMPT.encode()))
        self.assertEqual(self.read(self.dir, "car1.tex"), original)

    def test_prep_and_weld_give_back_the_split_texture(self):
        for subtype in (1, 14):
            self.texture("p%d" % subtype, subtype, 16, 8)
        names = ["p1.tex", "p14"]
        for tool in ("skinsplit", "skinprep", "skinweld"):
            if tool == "skinprep":
                # p1's image saved again as PNG beside the TGA: the newer, so read.
                from PIL import Image
                split = os.path.join(self.dir, "tga", "p1.tga")
                Image.open(split).save(os.path.join(self.dir, "tga", "p1.png"))
                os.utime(split, (0, 0))
            result = self.tool(tool, names)
            self.assertEqual(result.returncode, 0, (tool, result.stderr))
            if tool == "skinprep":
                self.assertIn(b"Image: tga/p1.png (tga/p1.tga is older", result.stdout)
        for subtype in (1, 14):
            expected = os.path.join(self.top, "expected%d.tex" % subtype)
            subprocess.run([TEXGEN, "tex", str(subtype), "16", "8", expected], check=True)
            self.assertEqual(self.read(self.dir, "p%d.tex" % subtype), self.read(expected))

    def test_a_png_split_prepares_back_to_the_texture(self):
        for subtype in (1, 14, 18):
            self.texture("g%d" % subtype, subtype, 16, 8)
        names = ["g1", "g14", "g18"]
        self.assertEqual(self.tool("skinsplit", ["--png"] + names).returncode, 0)
        self.assertFalse(os.path.exists(os.path.join(self.dir, "tga", "g1.tga")))
        with open(os.path.join(self.dir, "tga", "g1.png"), "rb") as f:
            self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")
        for tool in ("skinprep", "skinweld"):
            result = self.tool(tool, names[:2])
            self.assertEqual(result.returncode, 0, (tool, result.stderr))
        for subtype in (1, 14):
            expected = os.path.join(self.top, "expected_g%d.tex" % subtype)
            subprocess.run([TEXGEN, "tex", str(subtype), "16", "8", expected], check=True)
            self.assertEqual(self.read(self.dir, "g%d.tex" % subtype), self.read(expected))

    def test_prep_reduces_a_repaint_with_libimagequant(self):
        self.texture("q", 1, 32, 32)
        self.assertEqual(self.tool("skinsplit", ["q"]).returncode, 0)
        subprocess.run([TEXGEN, "repaint", "32", "32", os.path.join(self.dir, "tga", "q.tga")],
                       check=True)
        prep = self.tool("skinprep", ["q"])
        self.assertEqual(prep.returncode, 0, prep.stderr)
        self.assertIn(b"entries remade by libimagequant", prep.stdout)
        self.assertEqual(self.tool("skinweld", ["q"]).returncode, 0)
        self.assertEqual(len(self.read(self.dir, "q.tex")), 1038 + 32 * 32 + 16 * 16 + 8 * 8)

    def test_drive_letters_and_backslashes(self):
        os.makedirs(os.path.join(self.dir, "skins", "set"))
        self.texture("a", where=os.path.join(self.dir, "skins", "set"))
        self.texture("b", where=self.d_drive)
        self.texture("c", where=self.d_drive)
        # Z: is the Unix root under Wine; D: the test's own drive, entered by
        # its letter alone, so "D:b.tex" is b.tex in D:'s current directory.
        absolute = "Z:" + os.path.join(self.dir, "skins", "set", "a.tex").replace("/", "\\")
        result = self.tool("skinsplit", [absolute, "skins\\set\\a.tex", "D:b.tex", "d:\\c.tex"])
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(os.path.exists(os.path.join(self.dir, "skins", "set", "tga", "a.tga")))
        self.assertTrue(os.path.exists(os.path.join(self.d_drive, "tga", "b.tga")))
        self.assertTrue(os.path.exists(os.path.join(self.d_drive, "tga", "c.tga")))

    def test_weld_takes_the_image_directory_by_any_path(self):
        self.texture("car1", 1, 8, 4)
        self.assertEqual(self.tool("skinsplit", ["car1"]).returncode, 0)
        sets = {"skins": os.path.join(self.dir, "skins"), "here": self.dir, "d": self.d_drive}
        for where in sets.values():
            images = os.path.join(where, "car1")
            os.makedirs(images, exist_ok=True)
            shutil.copy(os.path.join(self.dir, "tga", "car1.pal"), images)
            shutil.copy(os.path.join(self.dir, "tga", "car1.tga"), os.path.join(images, "car1_h.tga"))
            for suffix, divisor in (("_m", "2"), ("_l", "4")):
                subprocess.run([TEXGEN, "shrink", os.path.join(self.dir, "tga", "car1.tga"), divisor,
                                os.path.join(images, "car1" + suffix + ".tga")], check=True)
        # The full path a folder dropped on the program gets, a trailing
        # backslash, and a drive-relative name.
        full = "Z:" + os.path.join(sets["skins"], "car1").replace("/", "\\")
        result = self.tool("skinweld", [full, "car1\\", "D:car1"])
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(b"Opening car1.pal...", result.stdout)
        for where in sets.values():
            self.assertEqual(self.read(where, "car1.tex"), self.read(self.dir, "car1.tex"), where)
            self.assertFalse(os.path.exists(os.path.join(where, "car1", "car1.tex")))

    def test_error_texts_are_the_c_runtimes(self):
        with open(os.path.join(self.dir, "short.tex"), "wb") as f:
            f.write(b"\x01")
        fresh = self.tool("skinsplit", ["short"])
        # The runtime's text for error number 0: "No error" on Windows, "Success" under Wine.
        self.assertIn(fresh.stderr.decode(),
                      ["ERROR! Could not determine X size of input file! : %s\r\n" % text
                       for text in ("No error", "Success")])
        # Nothing clears the error number: the second message shows the first's text.
        result = self.tool("skinsplit", ["nowhere\\a.tex", "short"])
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr.decode(),
                         "ERROR! Could not change to texture directory! : No such file or directory\r\n"
                         "ERROR! Could not determine X size of input file! : "
                         "No such file or directory\r\n")
        # A drive that does not exist refuses the texture; nothing is read elsewhere.
        self.texture("x")
        no_drive = self.tool("skinsplit", ["Q:x.tex"])
        self.assertEqual(no_drive.returncode, 1)
        self.assertTrue(no_drive.stderr.startswith(b"ERROR! Could not change to texture drive! : "),
                        no_drive.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.dir, "tga")))
        usage = self.tool("skinweld", [])
        self.assertEqual(usage.returncode, 2)
        self.assertEqual(usage.stderr, b"USAGE: skinweld file1 [, file2 [, ...]]\r\n")
        self.assertEqual(usage.stdout, b"")

    def test_wildcards_are_expanded_by_the_c_runtime(self):
        for name in ("one", "two", "three"):
            self.texture(name)
        result = self.tool("skinsplit", ["*.tex", "nomatch*.tex"])
        self.assertEqual(result.returncode, 1)  # the pattern that matches nothing stays a name
        shown = [n for n in os.listdir(os.path.join(self.dir, "tga")) if not n.startswith(".")]
        self.assertEqual(sorted(shown), ["one.pal", "one.tga", "three.pal", "three.tga", "two.pal", "two.tga"])
        self.assertIn(b"Opening nomatch*.tex...file not found!\r\n", result.stdout)

    def on_console(self, command, press_enter_after=None, limit=60):
        """Runs a command whose standard input and output are a terminal, as
        the console of a program dropped on is; presses ENTER after the given
        seconds. Gives how long it ran and its exit status."""
        pid, fd = pty.fork()
        if pid == 0:
            os.chdir(self.dir)
            os.execvpe(command[0], command, self.env)
        started = time.monotonic()
        pressed = False
        self.console = b""
        while time.monotonic() - started < limit:
            if select.select([fd], [], [], 0.05)[0]:
                try:
                    self.console += os.read(fd, 4096)
                except OSError:
                    pass
            if press_enter_after is not None and not pressed and \
                    time.monotonic() - started > press_enter_after:
                os.write(fd, b"\r")
                pressed = True
            ended, status = os.waitpid(pid, os.WNOHANG)
            if ended:
                os.close(fd)
                return time.monotonic() - started, os.waitstatus_to_exitcode(status)
        os.kill(pid, 9)
        os.waitpid(pid, 0)
        os.close(fd)
        self.fail("%s still runs after %d s" % (command, limit))

    def test_a_dropped_file_waits_for_enter_and_a_batch_file_does_not(self):
        self.texture("one")
        self.texture("two", 17)
        with open(os.path.join(self.dir, "bad.tex"), "wb") as f:
            f.write(b"\x01")
        # Dropped on the program: the full path, a console, and the wait.
        dropped = "Z:" + os.path.join(self.dir, "one.tex").replace("/", "\\")
        ran, status = self.on_console(["wine", os.path.join(WINDOWS, "skinsplit.exe"), dropped],
                                      press_enter_after=4)
        self.assertEqual(status, 0, self.console)
        self.assertGreaterEqual(ran, 4)
        # A batch file on the same console runs through without a key.
        bin_dir = "Z:" + WINDOWS.replace("/", "\\")
        with open(os.path.join(self.dir, "all.bat"), "w", newline="\r\n") as f:
            f.write("@echo off\n"
                    "for %%t in (*.tex) do (\n"
                    "  \"BIN\\skinsplit.exe\" --no-pause --quiet \"%%t\" >> log.txt 2>&1\n"
                    "  if errorlevel 1 echo %%t failed>> log.txt\n"
                    ")\n"
                    "\"BIN\\skinsplit.exe\" --no-pause --quiet one two >> log.txt 2>&1\n"
                    "echo status %ERRORLEVEL% >> log.txt\n"
                    "\"BIN\\skinweld.exe\" --no-pause -q one >> log.txt 2>&1\n"
                    "echo status %ERRORLEVEL% >> log.txt\n".replace("BIN", bin_dir))
        # (It ends with no key pressed, or on_console fails.)
        self.on_console(["wine", "cmd", "/c", "all.bat"])
        log = self.read(self.dir, "log.txt").decode().split("\r\n")
        self.assertNotIn("one.tex: wrote tga/one.pal and tga/one.tga", log)  # split when dropped
        self.assertIn("two.tex: wrote tga/two.tga", log)
        self.assertIn("bad.tex: ERROR! Could not determine X size of input file! : Success", log)
        self.assertIn("one: ERROR! Could not change to image directory! : No such file or directory",
                      log)
        self.assertEqual([line for line in log if line.endswith("failed")], ["bad.tex failed"])
        self.assertEqual([line.strip() for line in log if line.startswith("status")],
                         ["status 0", "status 1"])
        self.assertEqual(log.count("**** Press ENTER to continue ****"), 3 + 2)

    def test_the_zip_carries_documents_windows_opens(self):
        [package] = glob.glob(os.path.join(WINDOWS, "skintools-*.zip"))
        with zipfile.ZipFile(package) as z:
            texts = {os.path.relpath(n, n.split("/")[0]): z.read(n) for n in z.namelist()
                     if n.endswith(".txt")}
        self.assertEqual(sorted(texts), ["README.txt", "doc/skinprep.txt", "doc/skinsplit.txt",
                                         "doc/skinweld.txt"])
        for name, text in texts.items():
            lines = text.split(b"\r\n")
            self.assertNotIn(b"\n", b"".join(lines), name)  # CR LF throughout
            self.assertTrue(all(line.isascii() and b"\b" not in line and b"\x1b" not in line
                                for line in lines), name)
        self.assertIn(b"--no-pause", texts["README.txt"])
        self.assertIn(b"-q, --quiet", texts["doc/skinsplit.txt"])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
