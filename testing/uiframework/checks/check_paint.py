"""skin-render --out: background colours (plain, half transparent, gradient),
borders (uniform and per side) and round corners at known pixels, on a plain
window (a copy of the window's DC) and on a layered one (the bitmap handed to
UpdateLayeredWindow, premultiplied), the layered one under a compositor."""
import os
import sys

import uicheck

BLUE = (0, 0, 255, 255)
RED = (255, 0, 0, 255)
GREEN = (0, 255, 0, 255)
WHITE = (255, 255, 255, 255)
BLACK = (0, 0, 0, 255)

PLAIN = [
    ((5, 5), BLUE, "the root's background"),
    ((20, 20), BLUE, "a round corner leaves the parent's background"),
    ((22, 22), BLUE, "inside the corner's curve"),
    ((70, 50), RED, "the middle of the rounded control"),
    ((70, 20), RED, "the rounded control's top edge between the corners"),
    ((141, 50), GREEN, "a 3-pixel border, inside its width"),
    ((143, 50), WHITE, "just inside the 3-pixel border"),
    ((239, 50), GREEN, "the border's right side"),
    ((236, 50), WHITE, "inside the right side"),
    ((20, 130), BLACK, "a left-only line"),
    ((21, 130), WHITE, "next to the left line"),
    ((119, 130), BLACK, "the right line at right - width"),
    ((70, 100), WHITE, "no top line with widths 1,0,1,0"),
    ((190, 130), (128, 0, 127, 255), "a half-transparent red over blue"),
    ((270, 21), (1, 1, 1, 255), "the top of a black-to-white gradient"),
    ((270, 100), (127, 127, 127, 255), "the gradient's middle"),
    ((270, 178), (251, 251, 251, 255), "the gradient's bottom"),
]

LAYERED = [
    ((5, 5), (0, 0, 128, 128), "blue at the layered image's alpha, premultiplied"),
    ((50, 50), (128, 0, 0, 128), "opaque red at the image's alpha"),
    ((130, 50), (64, 0, 63, 128), "half-transparent red over blue, then the image's alpha"),
]


def close(a, b, tol=2):
    return all(abs(x - y) <= tol for x, y in zip(a, b))


def check_picture(check, path, expectations, label):
    w, h, rows = uicheck.read_png(path)
    for (x, y), want, what in expectations:
        got = rows[y][x]
        check.expect(close(got, want), "%s: %s at %d,%d is %s (got %s)" % (label, what, x, y, want, got))
    return w, h


def main():
    wine_run, exe, folder, work = sys.argv[1:5]
    os.makedirs(work, exist_ok=True)
    skins = uicheck.make_skins(folder, work)
    check = uicheck.Checker()
    prefix = uicheck.Prefix(wine_run, work)
    with uicheck.Display() as display:
        render = uicheck.Renderer(wine_run, exe, display, prefix)
        for kind in ("folder", "7z"):
            out = os.path.join(work, "plain-%s.png" % kind)
            rc, _, err = render.run(skins[kind], "paint.xml", "--out", "Z:" + out)
            if check.expect(rc == 0, "plain window painted from the %s skin (exit %d %s)" % (kind, rc, err.strip())):
                w, h = check_picture(check, out, PLAIN, "plain/" + kind)
                check.expect((w, h) == (300, 200), "the picture has the window's size")
    prefix.stop()   # the session's desktop follows the next display
    with uicheck.Display(compositor=True) as display:
        render = uicheck.Renderer(wine_run, exe, display, prefix)
        out = os.path.join(work, "layered.png")
        rc, _, err = render.run(skins["zip"], "layered.xml", "--out", "Z:" + out)
        if check.expect(rc == 0, "layered window painted (exit %d %s)" % (rc, err.strip())):
            w, h = check_picture(check, out, LAYERED, "layered")
            check.expect((w, h) == (200, 100), "the layered picture has the window's size")
    prefix.stop()
    check.finish()


if __name__ == "__main__":
    main()
