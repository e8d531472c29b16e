#!/usr/bin/env python3
"""Hostile skins for skin-render: seeded mutations of the test skins' layouts,
images and archives, each run with --tree and --out under Xvfb with a time and
memory bound. A run that ends by an exception (Wine's page fault report or an
exception code as exit status), hangs or grows past the memory bound is a fault;
its seed is printed so that it can be replayed alone.

usage: skin_fuzz.py WINE_RUN SKIN_RENDER WORK [--seeds FIRST COUNT] [--jobs N]
                    [--keep] [--replay SEED] [--cases DIR]
  --seeds  the random run, seeds FIRST .. FIRST+COUNT-1 (default 1 40)
  --jobs   processes, each with its own Xvfb display and Wine session
  --keep   leave every faulty case's skin under WORK/faults/SEED
  --cases  also replay the stored known-bad cases of DIR (each a folder holding
           skin/ and a file "layout" naming the layout, or a skin archive
           "skin.zip" / "skin.7z" and "layout")
Prints one line per case and "ALL CHECKS PASSED" when none failed.
"""
import multiprocessing
import os
import random
import shutil
import struct
import subprocess
import sys
import time
import zipfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "testing", "uiframework", "checks"))
sys.path.insert(0, os.path.join(ROOT, "testing", "uiframework"))
import uicheck  # noqa: E402
import make_images  # noqa: E402

TIME_LIMIT = 45.0            # seconds for one run (skin-render waits at most 30 s for idle)
MEMORY_LIMIT = 700 * 1024    # KiB of resident memory of the run's processes
EXIT_CLEAN = (0, 1)

ODD_NUMBERS = ["-1", "0", "-2147483648", "2147483647", "4294967295", "99999999999999", "100000", "-100000",
               "1e9", "0x7fffffff", "abc", "", " ", "1,", ",", "-0", "+5", "65536"]
ODD_RECTS = ["1,2", "1,2,3", ",,,", "-99999,-99999,99999,99999", "2147483647,2147483647,2147483647,2147483647",
             "-2147483648,0,2147483647,0", "10,10,0,0", "0,0,0,0", "1,2,3,4,5,6", "a,b,c,d", "", "5"]
ODD_COLOURS = ["FF0000", "#", "#GGGGGG", "#FFFFFFFFFFFFFFFF", "#1", "#FF00FF00FF", "red", "", "#-1", "# "]
ODD_BOOLS = ["", "TRUE", "1", "yes", "no", "false "]
ODD_TEXT = ["{b}{i}{u}unclosed", "{/b}{/i}", "{a}link without end", "{a x}{a y}{/a}", "{c #zz}x{/c}",
            "{f 999}x{/f}", "{f -1}x", "{p}{p}{p}{n}{n}", "{x 99999}{y -99999}x", "{i notthere.png}",
            "{i nine.png 99999 -5}", "{s}{s}{s}", "{v}", "{", "}", "{}{}{}", "{r 100000,100000}x{/r}",
            "{" * 3000 + "b" + "}" * 3000, "{b}" * 3000, "&amp;&lt;&#0;&#xFFFFFFFF;&#55296;&bad;",
            "x" * 200000]
ODD_IMAGES = ["file='nine.png' source='-5,-5,99999,99999'", "file='nine.png' source='8,8,4,4'",
              "file='nine.png' corner='99999,99999,99999,99999'", "file='nine.png' corner='-5,-5,-5,-5'",
              "file='nine.png' corner='6,6,6,6'", "file='nine.png' fade='999'", "file='nine.png' fade='-1'",
              "file='nine.png' mask='#zz'", "file='nine.png' mask='0xFFFFFFFF'", "file='nine.png' dest='1,2'",
              "file='nine.png' dest='-99999,-99999,99999,99999'", "file='nine.png' xtiled='true' ytiled='true'",
              "file='nine.png' xtiled='true' source='0,0,0,0'", "file='tile.png' xtiled='true' ytiled='true' dest='0,0,99999,99999'",
              "file='missing.png'", "file='bad.png'", "file='empty.png'", "file='huge.png'", "file='bad.bmp'",
              "file='bad.gif'", "file='../../etc/passwd'", "file=''", "file='", "source='1,2,3,4'",
              "color='#zz'", "color=''", "res='99999' restype='PNG'", "file='nine.png' hole='true' corner='6,6,6,6'",
              "nine.png", "x" * 70000, "file='" + "a/" * 3000 + "x.png'"]
ODD_FONTS = ['<Font name="no such face at all" size="0" />', '<Font name="" size="100000" bold="true" />',
             '<Font name="Tahoma" size="-5" />', '<Font id="-1" name="Tahoma" size="10" />',
             '<Font id="99999999" name="Tahoma" size="2147483647" />', '<Font size="abc" />',
             '<Font id="0" name="' + "F" * 5000 + '" size="12" italic="true" underline="true" />',
             '<Default name="Button" value="' + "&lt;" * 10 + '" />', '<Default name="" value="" />',
             '<Image name="i" file="missing.png" />', '<Image name="" file="nine.png" mask="#zz" />']


def collect_seeds():
    """(folder, layout names) of every test skin."""
    skins = []
    for base in (os.path.join(ROOT, "testing", "uiframework"), os.path.join(ROOT, "installer")):
        for name in sorted(os.listdir(base)):
            folder = os.path.join(base, name, "skin")
            if name == "skin" and base.endswith("installer"):
                folder = os.path.join(base, "skin")
            if not os.path.isdir(folder):
                continue
            layouts = sorted(f for f in os.listdir(folder) if f.endswith(".xml"))
            if layouts and (folder, layouts) not in skins:
                skins.append((folder, layouts))
    return skins


def vocabulary(skins):
    """Every element class and attribute name the test skins use."""
    import re
    elements, attributes = set(), set()
    for folder, layouts in skins:
        for layout in layouts:
            text = open(os.path.join(folder, layout), encoding="utf-8", errors="replace").read()
            elements.update(re.findall(r"<([A-Za-z][A-Za-z0-9]*)", text))
            attributes.update(re.findall(r"\s([a-zA-Z][a-zA-Z0-9]*)=\"", text))
    return sorted(elements), sorted(attributes)


def base_images():
    """The pictures a mutated skin may name, good and bad."""
    rows = [[(r * 20, c * 20, 100, 255) for c in range(12)] for r in range(12)]
    nine = make_images.png(rows)
    tile = make_images.png([[(10, 20, 30, 255)] * 3] * 2)
    bmp = make_images.bmp24([[(200, 0, 0)] * 4] * 3)
    gif = make_images.gif(make_images.gif_frames([((255, 0, 0), (0, 255, 0)), ((0, 0, 255), (9, 9, 9))]), [50, 50])
    return {"nine.png": nine, "tile.png": tile, "states.png": nine, "magenta.bmp": bmp, "anim.gif": gif,
            "good.bmp": bmp, "good.gif": gif}


def mutate_image(rng, data, name):
    op = rng.randrange(7)
    b = bytearray(data)
    if op == 0:
        return bytes(b[:rng.randrange(len(b))])
    if op == 1:
        for _ in range(rng.randint(1, 8)):
            b[rng.randrange(len(b))] = rng.randrange(256)
        return bytes(b)
    if op == 2:
        return b""
    # Huge or zero declared dimensions.
    big = rng.choice([0, 1, 0x7FFFFFFF, 0xFFFFFFFF, 65535, 100000, 0x40000000])
    if name.endswith(".png") and len(b) > 24:
        struct.pack_into(">I", b, 16 + 4 * rng.randrange(2), big)
        if rng.random() < 0.5:  # a right CRC, so that the decoder takes it
            struct.pack_into(">I", b, 29, zlib.crc32(bytes(b[12:29])) & 0xFFFFFFFF)
    elif name.endswith(".bmp") and len(b) > 26:
        struct.pack_into("<i", b, 18 + 4 * rng.randrange(2), big - (1 << 32) if big >= 1 << 31 else big)
        if op == 6:
            struct.pack_into("<H", b, 28, rng.choice([0, 1, 4, 8, 16, 32, 33, 65535]))
    elif name.endswith(".gif") and len(b) > 10:
        struct.pack_into("<H", b, 6 + 2 * rng.randrange(2), big & 0xFFFF)
        if op == 6 and len(b) > 20:
            struct.pack_into("<H", b, rng.randrange(10, len(b) - 2), 0xFFFF)
    return bytes(b)


def mutate_xml(rng, text, elements, attributes):
    """One to three mutations of a layout's text."""
    import re
    for _ in range(rng.randint(1, 3)):
        op = rng.randrange(16)
        attrs = list(re.finditer(r'(\s[a-zA-Z][a-zA-Z0-9]*)="([^"]*)"', text))
        tags = list(re.finditer(r"<[A-Za-z][^<>]*>", text))
        if op == 0 and text:
            text = text[:rng.randrange(len(text))]
        elif op == 1 and tags:
            t = rng.choice(tags)
            text = text[:t.end() - 1] + text[t.end():]  # a tag left unclosed
        elif op == 2:
            depth = rng.choice([200, 2000, 20000, 100000])
            kind = rng.choice(["VerticalLayout", "Container", "HorizontalLayout", "TabLayout", "List"])
            deep = "<%s>" % kind * depth + "</%s>" % kind * depth
            text = re.sub(r"(<Window[^>]*>)", lambda m: m.group(1) + deep, text, count=1)
        elif op == 3 and attrs:
            a = rng.choice(attrs)
            text = text[:a.start(2)] + "x" * rng.choice([5000, 70000, 1000000]) + text[a.end(2):]
        elif op in (4, 5, 6) and attrs:
            a = rng.choice(attrs)
            pool = rng.choice([ODD_NUMBERS, ODD_RECTS, ODD_COLOURS, ODD_BOOLS, ODD_IMAGES, ODD_TEXT])
            value = rng.choice(pool).replace("&", "&amp;").replace("<", "&lt;").replace('"', "&quot;")
            text = text[:a.start(2)] + value + text[a.end(2):]
        elif op == 7 and tags:
            # A new element of any class with odd attributes, inside the first container.
            extra = "".join(' %s="%s"' % (rng.choice(attributes), rng.choice(
                ODD_NUMBERS + ODD_RECTS + ODD_COLOURS + ODD_IMAGES[:20] + ODD_TEXT[:12]).replace(
                "&", "&amp;").replace("<", "&lt;").replace('"', "&quot;")) for _ in range(rng.randint(1, 6)))
            el = "<%s%s />" % (rng.choice(elements), extra)
            t = rng.choice(tags[1:] or tags)
            text = text[:t.end()] + el + text[t.end():]
        elif op == 8:
            ent = rng.choice(["&#0;", "&#xFFFFFFFF;", "&#55296;", "&#99999999999;", "&unknown;", "&amp", "&#;",
                              "&#x;", "&" * 100, "&#x110000;", "&#xD800;&#xDC00;"])
            pos = rng.randrange(len(text) + 1)
            text = text[:pos] + ent + text[pos:]
        elif op == 9:
            text = re.sub(r"<Window[^>]*>", "", text, count=1)
            text = text.replace("</Window>", "", 1)
        elif op == 10:
            m = re.search(r"<Window[^>]*>", text)
            if m:
                text = text[:m.end()] + m.group(0) + text[m.end():]
        elif op == 11:
            src = rng.choice(["self.xml", "loop_a.xml", "", "missing.xml", "..\\..\\x.xml", "99999"])
            inc = '<Include source="%s" count="%s" />' % (src, rng.choice(["1", "1000000", "-1", "2147483647"]))
            m = re.search(r"<Window[^>]*>", text)
            pos = m.end() if m else 0
            text = text[:pos] + "<VerticalLayout>" + inc + "</VerticalLayout>" + text[pos:]
        elif op == 12:
            font = rng.choice(ODD_FONTS)
            m = re.search(r"<Window[^>]*>", text)
            pos = m.end() if m else 0
            text = text[:pos] + font + text[pos:]
        elif op == 13 and tags:
            t = rng.choice(tags)
            text = text[:t.start()] + t.group(0) * rng.choice([2, 50]) + text[t.start():]
        elif op == 14 and text:
            pos = rng.randrange(len(text))
            text = text[:pos] + rng.choice(["<", ">", "</", "<!--", "<![CDATA[", "<?", "\"", "='", "\x00"]) + text[pos:]
        elif op == 15 and text:
            p, q = sorted(rng.randrange(len(text)) for _ in range(2))
            text = text[:p] + text[q:]
    return text


def encode_layout(rng, text):
    r = rng.random()
    if r < 0.75:
        return text.encode("utf-8", "replace")
    if r < 0.82:
        return b"\xef\xbb\xbf" + text.encode("utf-8", "replace")
    if r < 0.87:
        data = b"\xff\xfe" + text.encode("utf-16-le", "replace")
        return data[:-1] if rng.random() < 0.5 else data  # odd length
    if r < 0.9:
        return text.encode("utf-16-le", "replace")  # no BOM
    b = bytearray(text.encode("utf-8", "replace"))
    for _ in range(rng.randint(1, 6)):  # invalid UTF-8
        if b:
            b[rng.randrange(len(b))] = rng.choice([0x80, 0xC0, 0xC1, 0xE0, 0xED, 0xF4, 0xF5, 0xFE, 0xFF, 0x00])
    return bytes(b)


def make_case(rng, skins, elements, attributes, images, work):
    """A mutated skin under work: (skin path, layout name, description)."""
    folder, layouts = rng.choice(skins)
    layout = rng.choice(layouts)
    skin = os.path.join(work, "skin")
    if os.path.exists(skin):
        shutil.rmtree(skin)
    os.makedirs(skin)
    for name in os.listdir(folder):
        if name.endswith(".xml") or name.endswith(".json"):
            shutil.copy(os.path.join(folder, name), skin)
    bad = dict(images)
    for name, data in images.items():
        with open(os.path.join(skin, name), "wb") as f:
            f.write(data)
    what = ["%s/%s" % (os.path.relpath(folder, ROOT), layout)]
    # Damaged pictures under their own names and over good ones.
    for name, src in (("bad.png", "nine.png"), ("bad.bmp", "good.bmp"), ("bad.gif", "good.gif"),
                      ("huge.png", "nine.png")):
        bad[name] = mutate_image(rng, images[src], name)
    if rng.random() < 0.3:
        victim = rng.choice(["nine.png", "states.png", "anim.gif", "magenta.bmp", "tile.png"])
        bad[victim] = mutate_image(rng, images[victim], victim)
        what.append("damaged " + victim)
    for name in ("bad.png", "bad.bmp", "bad.gif", "huge.png") + tuple(images):
        with open(os.path.join(skin, name), "wb") as f:
            f.write(bad[name])
    text = open(os.path.join(folder, layout), encoding="utf-8", errors="replace").read()
    if rng.random() < 0.9:
        text = mutate_xml(rng, text, elements, attributes)
        what.append("layout mutated")
    with open(os.path.join(skin, layout), "wb") as f:
        f.write(encode_layout(rng, text))
    with open(os.path.join(skin, "self.xml"), "w") as f:
        f.write('<Window size="100,100"><VerticalLayout><Include source="self.xml" /></VerticalLayout></Window>')
    with open(os.path.join(skin, "loop_a.xml"), "w") as f:
        f.write('<VerticalLayout><Include source="loop_b.xml" count="3" /></VerticalLayout>')
    with open(os.path.join(skin, "loop_b.xml"), "w") as f:
        f.write('<VerticalLayout><Include source="loop_a.xml" count="3" /></VerticalLayout>')
    r = rng.random()
    if r < 0.6:
        return skin, layout, what
    kind = "zip" if r < 0.8 else "7z"
    archive = os.path.join(work, "skin." + kind)
    if os.path.exists(archive):
        os.remove(archive)
    if kind == "zip":
        with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED if rng.random() < 0.7 else zipfile.ZIP_STORED) as z:
            for name in sorted(os.listdir(skin)):
                arcname = name
                if rng.random() < 0.05:
                    arcname = "../" + name
                z.write(os.path.join(skin, name), arcname)
    else:
        subprocess.run(["7zz", "a", "-bd", "-y", archive, "."], cwd=skin, check=True, stdout=subprocess.DEVNULL)
    what.append(kind)
    if rng.random() < 0.5:
        b = bytearray(open(archive, "rb").read())
        op = rng.randrange(4)
        if op == 0:
            b = b[:rng.randrange(len(b))]
            what.append("archive cut at %d" % len(b))
        elif op == 1:
            for _ in range(rng.randint(1, 10)):
                b[rng.randrange(len(b))] = rng.randrange(256)
            what.append("archive bytes changed")
        elif op == 2 and kind == "zip":
            # Sizes, offsets and name lengths of the central directory made huge.
            pos = b.rfind(b"PK\x01\x02")
            while pos >= 0:
                field = rng.choice([20, 24, 28, 30, 32, 42])
                width = 2 if field in (28, 30, 32) else 4
                value = rng.choice([0xFFFF, 0xFFFFFFFF, 0x7FFFFFFF, 0x10000000, 0])
                struct.pack_into("<H" if width == 2 else "<I", b, pos + field, value & (0xFFFF if width == 2 else 0xFFFFFFFF))
                pos = b.rfind(b"PK\x01\x02", 0, pos)
                if rng.random() < 0.5:
                    break
            what.append("central directory fields changed")
        elif op == 2:
            # The 7z start header: next header offset and size.
            if len(b) >= 32:
                struct.pack_into("<Q", b, 12 + 8 * rng.randrange(2), rng.choice([0xFFFFFFFF, 1 << 40, 0x7FFFFFF0, 0]))
                if rng.random() < 0.5:
                    struct.pack_into("<I", b, 8, zlib.crc32(bytes(b[12:32])) & 0xFFFFFFFF)
            what.append("start header changed")
        else:
            # Bytes changed within the last part, where the directory is.
            tail = max(1, len(b) // 4)
            for _ in range(rng.randint(1, 6)):
                b[len(b) - 1 - rng.randrange(tail)] = rng.randrange(256)
            what.append("directory bytes changed")
        with open(archive, "wb") as f:
            f.write(b)
    return archive, layout, what


def tree_memory(pid):
    """Resident KiB of pid and its descendants."""
    total = 0
    todo = [pid]
    seen = set()
    while todo:
        p = todo.pop()
        if p in seen:
            continue
        seen.add(p)
        try:
            with open("/proc/%d/status" % p) as f:
                for line in f:
                    if line.startswith("VmRSS:"):
                        total += int(line.split()[1])
            with open("/proc/%d/task/%d/children" % (p, p)) as f:
                todo += [int(x) for x in f.read().split()]
        except (OSError, ValueError):
            pass
    return total


def run_bounded(cmd, env):
    """(verdict or None, exit code, stderr, peak KiB)."""
    proc = subprocess.Popen(cmd, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=True)
    import threading
    outs = {}

    def reader(name, stream):
        outs[name] = stream.read()
    threads = [threading.Thread(target=reader, args=(n, s)) for n, s in (("out", proc.stdout), ("err", proc.stderr))]
    for t in threads:
        t.start()
    start = time.monotonic()
    peak = 0
    verdict = None
    while proc.poll() is None:
        peak = max(peak, tree_memory(proc.pid))
        if peak > MEMORY_LIMIT:
            verdict = "memory beyond %d MiB" % (MEMORY_LIMIT // 1024)
        elif time.monotonic() - start > TIME_LIMIT:
            verdict = "hang (no exit in %d s)" % TIME_LIMIT
        if verdict:
            try:
                os.killpg(proc.pid, 9)
            except OSError:
                pass
            break
        time.sleep(0.05)
    proc.wait()
    for t in threads:
        t.join()
    err = outs.get("err", b"").decode("utf-8", "replace")
    return verdict, proc.returncode, err, peak


class Worker:
    def __init__(self, wine_run, exe, work):
        self.wine_run, self.exe, self.work = wine_run, exe, work
        os.makedirs(work, exist_ok=True)
        self.prefix = uicheck.Prefix(wine_run, work)
        self.display = uicheck.Display()

    def run_case(self, skin, layout):
        """None when both runs end cleanly, else what went wrong."""
        env = self.prefix.env(self.display)
        png = os.path.join(self.work, "out.png")
        base = [self.wine_run, self.exe, "Z:" + skin.replace("/", "\\"), layout]
        for extra in (["--tree"], ["--out", "Z:" + png.replace("/", "\\")]):
            verdict, rc, err, peak = run_bounded(base + extra, env)
            if verdict is None and ("Unhandled" in err or "page fault" in err or "stack overflow" in err.lower()):
                verdict = "exception: " + " ".join(l for l in err.splitlines() if "nhandled" in l or "fault" in l)[:300]
            if verdict is None and rc not in EXIT_CLEAN:
                verdict = "exit %d (0x%x)%s" % (rc, rc & 0xFFFFFFFF, (": " + err.strip()[:300]) if err.strip() else "")
            if verdict:
                if verdict.startswith("hang") or verdict.startswith("memory"):
                    self.prefix.stop()  # whatever the killed run left behind
                return "%s %s" % (" ".join(extra[:1]), verdict)
        return None

    def close(self):
        self.prefix.stop()
        self.display.close()


def fuzz_worker(args):
    wine_run, exe, work, seeds, keep = args
    skins = collect_seeds()
    elements, attributes = vocabulary(skins)
    images = base_images()
    worker = Worker(wine_run, exe, work)
    results = []
    try:
        for seed in seeds:
            rng = random.Random(seed)
            case_dir = os.path.join(work, "case")
            os.makedirs(case_dir, exist_ok=True)
            skin, layout, what = make_case(rng, skins, elements, attributes, images, case_dir)
            fault = worker.run_case(skin, layout)
            line = "%s seed %d (%s)%s" % ("FAIL" if fault else "ok  ", seed, "; ".join(what),
                                          (": " + fault) if fault else "")
            print(line, flush=True)
            if fault and keep:
                dest = os.path.join(work, "..", "faults", str(seed))
                if os.path.exists(dest):
                    shutil.rmtree(dest)
                shutil.copytree(case_dir, dest)
                with open(os.path.join(dest, "layout"), "w") as f:
                    f.write(layout + "\n" + os.path.basename(skin) + "\n")
            results.append((seed, fault))
    finally:
        worker.close()
    return results


def replay_cases(wine_run, exe, work, cases):
    worker = Worker(wine_run, exe, os.path.join(work, "replay"))
    failures = 0
    try:
        for name in sorted(os.listdir(cases)):
            case = os.path.join(cases, name)
            layout = open(os.path.join(case, "layout")).read().split()[0]
            skin = os.path.join(case, "skin")
            for archive in ("skin.zip", "skin.7z"):
                if os.path.exists(os.path.join(case, archive)):
                    skin = os.path.join(case, archive)
            fault = worker.run_case(skin, layout)
            print("%s known case %s%s" % ("FAIL" if fault else "ok  ", name, (": " + fault) if fault else ""),
                  flush=True)
            failures += bool(fault)
    finally:
        worker.close()
    return failures


def main():
    argv = sys.argv[1:]
    if len(argv) < 3:
        print(__doc__)
        sys.exit(2)
    wine_run, exe, work = argv[:3]
    first, count, jobs, keep, cases = 1, 40, 1, False, None
    i = 3
    while i < len(argv):
        if argv[i] == "--seeds":
            first, count = int(argv[i + 1]), int(argv[i + 2])
            i += 3
        elif argv[i] == "--replay":
            first, count = int(argv[i + 1]), 1
            i += 2
        elif argv[i] == "--jobs":
            jobs = int(argv[i + 1])
            i += 2
        elif argv[i] == "--keep":
            keep = True
            i += 1
        elif argv[i] == "--cases":
            cases = argv[i + 1]
            i += 2
        else:
            print("unknown argument " + argv[i])
            sys.exit(2)
    os.makedirs(work, exist_ok=True)
    failures = 0
    if cases:
        failures += replay_cases(wine_run, exe, work, cases)
    seeds = list(range(first, first + count))
    parts = [(wine_run, exe, os.path.join(work, "w%d" % j), seeds[j::jobs], keep) for j in range(jobs)]
    if jobs == 1:
        results = fuzz_worker(parts[0]) if seeds else []
    else:
        with multiprocessing.Pool(jobs) as pool:
            results = [r for part in pool.map(fuzz_worker, parts) for r in part]
    bad = [(s, f) for s, f in results if f]
    failures += len(bad)
    print("%d cases, %d faults" % (len(results), len(bad)))
    for seed, fault in bad:
        print("replay: skin_fuzz.py %s %s %s --replay %d   # %s" % (wine_run, exe, work, seed, fault))
    if failures:
        print("%d check(s) failed" % failures)
        sys.exit(1)
    print("ALL CHECKS PASSED")


if __name__ == "__main__":
    main()
