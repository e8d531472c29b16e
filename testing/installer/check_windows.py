"""The installer's message and tip windows and the main window's pages, for real
under Xvfb through installer-ui-driver: each window answers with the button clicked
(closing without a button answers 2, Escape does nothing) while its owner is
disabled; every page and window is pictured in English, Simplified and Traditional
Chinese into the build folder, and each Chinese text is drawn with its glyphs: its
region differs from the same window with that text empty, with its characters as
the font's missing-glyph boxes and with them as "?"."""
import os
import shutil
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "uiframework", "checks"))
import uicheck  # noqa: E402

LAYOUTS = ["MessageBox1Wnd.xml", "MessageBox2Wnd.xml", "InstalledPathTipWnd.xml", "NetworkTipWnd.xml",
           "ExitTipWnd.xml"]
CODES = ["en-US", "zh-CN", "zh-TW"]

# layout, steps, answer, what the window is after each step
ASKS = [
    ("InstalledPathTipWnd.xml", ["click okBtn"], 0, ["closed"]),
    ("InstalledPathTipWnd.xml", ["click cancelBtn"], 1, ["closed"]),
    ("InstalledPathTipWnd.xml", ["click closebtn"], 2, ["closed"]),
    # Closed by the system, no button: not the first answer, which would install.
    ("InstalledPathTipWnd.xml", ["alt+f4"], 2, ["closed"]),
    ("NetworkTipWnd.xml", ["sysclose"], 2, ["closed"]),
    ("ExitTipWnd.xml", ["key Escape", "click cancelBtn"], 1, ["open", "closed"]),
    ("NetworkTipWnd.xml", ["click okBtn"], 0, ["closed"]),
    ("MessageBox1Wnd.xml", ["key Escape", "click closebtn"], 2, ["open", "closed"]),
    ("MessageBox2Wnd.xml", ["click closebtn"], 2, ["closed"]),
]


def run_driver(prefix, display, wine_run, exe, args):
    import subprocess
    r = subprocess.run([wine_run, exe] + args, env=prefix.env(display), stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE, timeout=300)
    out = r.stdout.decode("utf-8", "replace").replace("\r", "")
    return r.returncode, [l.split("\t") for l in out.splitlines() if l], r.stderr.decode("utf-8", "replace")


def check_answers(check, run):
    for layout, steps, answer, states in ASKS:
        rc, lines, err = run(["ask", layout] + steps)
        got = {l[0]: l[1:] for l in lines}
        after = [l[2] for l in lines if l[0] == "after"]
        what = "%s %s" % (layout, " / ".join(steps))
        check.expect(rc == 0 and got.get("answer") == [str(answer)],
                     "%s answers %d (got %r, exit %d %s)" % (what, answer, got.get("answer"), rc, err.strip()[-200:]))
        check.expect(after == states, "%s: the window after each step %r (got %r)" % (what, states, after))
        check.expect(got.get("owner-disabled") == ["1"] and got.get("owner-enabled-after") == ["1"],
                     "%s: the owner is disabled while it is up, enabled after" % what)


def region(rows, box):
    left, top, right, bottom = box
    return [tuple(rows[y][x][:3]) for y in range(top, bottom) for x in range(left, right)]


def check_shots(check, run, out_dir, ref_dir):
    for d in (out_dir, ref_dir):
        if os.path.exists(d):
            shutil.rmtree(d)
        os.makedirs(d)
    win = lambda p: "Z:" + p.replace("/", "\\")
    rc, lines, err = run(["shots", win(out_dir), win(ref_dir)])
    check.expect(rc == 0, "every page and window pictured (exit %d %s)" % (rc, err.strip()[-300:]))
    names = ["MainWnd-page%d-%s.png" % (p, c) for c in CODES for p in range(4)] + \
            ["%s-%s.png" % (l[:-4], c) for c in CODES for l in LAYOUTS]
    for n in names:
        path = os.path.join(out_dir, n)
        ok = os.path.exists(path)
        if ok:
            w, h, _ = uicheck.read_png(path)
            ok = (w, h) in ((600, 400), (360, 180), (400, 180))
        check.expect(ok, "%s written at its window's size" % n)
    unix = lambda p: p[2:].replace("\\", "/")
    texts = [l for l in lines if l[0] == "text"]
    per_shot = {}
    for l in texts:
        shot, control = unix(l[1]), l[2]
        box = [int(v) for v in l[3:7]]
        _, _, real = uicheck.read_png(shot)
        w, h = len(real[0]), len(real)
        box = [max(0, box[0]), max(0, box[1]), min(w, box[2]), min(h, box[3])]
        mine = region(real, box)
        refs = {}
        for kind, path in zip(("empty", "boxes", "question"), l[7:10]):
            _, _, rows = uicheck.read_png(unix(path))
            refs[kind] = region(rows, box)
        differs = {k: sum(1 for a, b in zip(mine, v) if a != b) for k, v in refs.items()}
        name = os.path.basename(shot)
        per_shot.setdefault(name, 0)
        per_shot[name] += 1
        check.expect(min(differs.values()) > 20,
                     "%s %s: drawn with glyphs, not empty, boxes or \"?\" (pixels that differ: %r)" %
                     (name, control, differs))
    for c in CODES[1:]:
        for n in names:
            if n.endswith("-%s.png" % c) and not n.startswith("MainWnd-page2"):
                check.expect(per_shot.get(n, 0) > 0, "%s has Chinese texts to look at" % n)


def main():
    wine_run, exe, work, out_dir = sys.argv[1:5]
    os.makedirs(work, exist_ok=True)
    check = uicheck.Checker()
    prefix = uicheck.Prefix(wine_run, work)
    with uicheck.Display() as display:
        run = lambda args: run_driver(prefix, display, wine_run, exe, args)
        check_answers(check, run)
        check_shots(check, run, out_dir, os.path.join(work, "references"))
    prefix.stop()
    check.finish()


if __name__ == "__main__":
    main()
