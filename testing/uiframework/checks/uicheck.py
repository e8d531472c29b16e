"""Shared helpers of the UI checks: a private Xvfb display, skin archives made
from a folder with Debian's zip and 7zz, skin-render runs under Wine, and a PNG
reader for the pictures it writes."""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zlib


class Display:
    """An Xvfb server of our own, on a display number no one else uses."""

    def __init__(self, compositor=False):
        self.proc = None
        self.comp = None
        base = 100 + os.getpid() % 800
        for n in range(base, base + 100):
            if os.path.exists("/tmp/.X11-unix/X%d" % n) or os.path.exists("/tmp/.X%d-lock" % n):
                continue
            proc = subprocess.Popen(["Xvfb", ":%d" % n, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            sock = "/tmp/.X11-unix/X%d" % n
            for _ in range(200):
                if os.path.exists(sock) or proc.poll() is not None:
                    break
                time.sleep(0.05)
            if proc.poll() is None and os.path.exists(sock):
                self.proc = proc
                self.name = ":%d" % n
                break
        if not self.proc:
            raise RuntimeError("no free X display")
        if compositor:
            env = dict(os.environ, DISPLAY=self.name)
            self.comp = subprocess.Popen(["xcompmgr", "-n"], env=env, stdout=subprocess.DEVNULL,
                                         stderr=subprocess.DEVNULL)

    def close(self):
        for p in (self.comp, self.proc):
            if p and p.poll() is None:
                p.terminate()
                try:
                    p.wait(10)
                except subprocess.TimeoutExpired:
                    p.kill()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def make_skins(folder, work):
    """The folder itself, a zip and a 7z of its files (names relative to it)."""
    zip_path = os.path.join(work, "skin.zip")
    sz_path = os.path.join(work, "skin.7z")
    for p in (zip_path, sz_path):
        if os.path.exists(p):
            os.remove(p)
    subprocess.run(["zip", "-q", "-r", zip_path, "."], cwd=folder, check=True)
    subprocess.run(["7zz", "a", "-bd", "-y", sz_path, "."], cwd=folder, check=True, stdout=subprocess.DEVNULL)
    return {"folder": folder, "zip": zip_path, "7z": sz_path}


class Prefix:
    """A Wine session of our own: a hard-linked copy of the build's prefix (its
    registry files copied), so that its own wineserver and desktop come up on
    our display. Wine binds a session's desktop, and with it every window of the
    session, to the display of the program that started it; other tests of the
    same build run without one."""

    def __init__(self, wine_run, work):
        with open(wine_run) as f:
            text = f.read()
        source = text.split("WINEPREFIX:=", 1)[1].split("}", 1)[0]
        self.path = os.path.join(work, "wineprefix")
        if os.path.exists(self.path):
            self.stop()
            shutil.rmtree(self.path)
        subprocess.run(["cp", "-al", source, self.path], check=True)
        for name in os.listdir(self.path):
            if name.endswith(".reg"):
                copy = os.path.join(self.path, name)
                data = open(copy, "rb").read()
                os.remove(copy)
                with open(copy, "wb") as f:
                    f.write(data)

    def check_freed_memory(self, exe_name):
        """Heap free checking for one program of this prefix (the system's
        per-program global flag): freed blocks are filled, so that a use after
        free reads garbage and fails. Set before the first display session."""
        env = dict(os.environ, WINEPREFIX=self.path, WINEARCH="win32", WINEDEBUG="-all")
        env.pop("DISPLAY", None)
        key = "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options\\" + exe_name
        # 0x30: tail and free checking.
        subprocess.run(["wine", "reg", "add", key, "/v", "GlobalFlag", "/t", "REG_DWORD", "/d", "0x30", "/f"],
                       env=env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def env(self, display):
        return dict(os.environ, DISPLAY=display.name, WINEPREFIX=self.path)

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=self.path),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


class Renderer:
    def __init__(self, wine_run, exe, display, prefix):
        self.wine_run = wine_run
        self.exe = exe
        self.display = display
        self.prefix = prefix

    def run(self, skin, layout, *args, timeout=300):
        env = self.prefix.env(self.display)
        cmd = [self.wine_run, self.exe, "Z:" + skin.replace("/", "\\"), layout] + list(args)
        r = subprocess.run(cmd, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)
        return r.returncode, r.stdout.decode("utf-8", "replace").replace("\r", ""), r.stderr.decode(
            "utf-8", "replace")


def read_png(path):
    """(width, height, rows of RGBA tuples) of an 8-bit RGBA, non-interlaced PNG."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG")
    pos = 8
    idat = b""
    width = height = 0
    while pos < len(data):
        (length,) = struct.unpack(">I", data[pos:pos + 4])
        kind = data[pos + 4:pos + 8]
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            width, height, depth, ctype, _, _, interlace = struct.unpack(">IIBBBBB", body)
            if depth != 8 or ctype != 6 or interlace != 0:
                raise ValueError("only 8-bit RGBA without interlace")
        elif kind == b"IDAT":
            idat += body
    raw = zlib.decompress(idat)
    stride = width * 4
    rows = []
    prev = bytearray(stride)
    i = 0
    for _ in range(height):
        ftype = raw[i]
        line = bytearray(raw[i + 1:i + 1 + stride])
        i += 1 + stride
        for x in range(stride):
            a = line[x - 4] if x >= 4 else 0
            b = prev[x]
            c = prev[x - 4] if x >= 4 else 0
            if ftype == 1:
                line[x] = (line[x] + a) & 0xFF
            elif ftype == 2:
                line[x] = (line[x] + b) & 0xFF
            elif ftype == 3:
                line[x] = (line[x] + (a + b) // 2) & 0xFF
            elif ftype == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[x] = (line[x] + pred) & 0xFF
        rows.append([tuple(line[x:x + 4]) for x in range(0, stride, 4)])
        prev = line
    return width, height, rows


def expect_pixels(check, path, name, expectations):
    """Each ((x, y), RGBA, what) of the picture at path, checked."""
    _, _, rows = read_png(path)
    for (x, y), colour, what in expectations:
        got = rows[y][x]
        check.expect(got == colour, "%s: %s at %d,%d is %s (got %s)" % (name, what, x, y, colour, got))


class Checker:
    def __init__(self):
        self.failures = 0

    def expect(self, ok, what):
        print(("ok   " if ok else "FAIL ") + what)
        if not ok:
            self.failures += 1
        return ok

    def finish(self):
        if self.failures:
            print("%d check(s) failed" % self.failures)
            sys.exit(1)
        print("ALL CHECKS PASSED")
