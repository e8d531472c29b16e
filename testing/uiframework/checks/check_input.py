"""skin-render --notify --input: scripted input through SendInput, and the whole
UINotify stream (with tree and hit-test lines where a script asks) compared:
click, hover in and out, Tab and Shift+Tab with wrapping, capture across the
window edge, a control timer's ticks and end, a scroll bar's arrow, thumb drag
and track, a separator drag stopping at the minimum, the frame's hit tests; a tree
view's double click collapsing and showing a subtree (a collapsed child keeping its
own children hidden) and its check box checking every descendant."""
import os
import subprocess
import sys

import uicheck

CASES = [
    ("input.xml", "click"),
    ("input.xml", "frame"),
    ("timer.xml", "timer"),
    ("scroll.xml", "scroll"),
    ("separator.xml", "separator"),
    ("tree.xml", "tree"),
]


def main():
    wine_run, exe, folder, work = sys.argv[1:5]
    os.makedirs(work, exist_ok=True)
    skins = uicheck.make_skins(os.path.join(folder, "skin"), work)
    check = uicheck.Checker()
    prefix = uicheck.Prefix(wine_run, work)
    with uicheck.Display() as display:
        render = uicheck.Renderer(wine_run, exe, display, prefix)
        # The skin formats are covered by the layout check; one is enough here.
        for kind in ("folder",):
            for layout, script in CASES:
                # Every run starts with the pointer far outside the window.
                subprocess.run(["xdotool", "mousemove", "1023", "767"], env=prefix.env(display),
                               check=True)
                with open(os.path.join(folder, script + ".expected")) as f:
                    expected = f.read()
                path = "Z:" + os.path.join(folder, script + ".in").replace("/", "\\")
                rc, out, err = render.run(skins[kind], layout, "--notify", "--input", path)
                ok = rc == 0 and out == expected
                check.expect(ok, "%s on %s (%s skin)" % (script, layout, kind))
                if not ok:
                    print("exit %d, stderr: %s" % (rc, err.strip()))
                    print("expected:\n" + expected + "got:\n" + out)
        bad = os.path.join(work, "bad.in")
        with open(bad, "w") as f:
            f.write("click 10\n")
        rc, out, err = render.run(skins["folder"], "input.xml", "--input", "Z:" + bad.replace("/", "\\"))
        check.expect(rc == 2, "a bad script line ends with exit 2 (got %d)" % rc)
        rc, out, err = render.run(skins["folder"], "input.xml", "--size", "10")
        check.expect(rc == 2, "a bad --size ends with exit 2 (got %d)" % rc)
    prefix.stop()
    check.finish()


if __name__ == "__main__":
    main()
