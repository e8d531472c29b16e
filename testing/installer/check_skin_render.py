"""skin-render on the installer's packed skin under Xvfb: every layout that the
windows ask for builds a root of its layout's size from the 7z archive (controls not
built yet are skipped by the builder), and the backgrounds are drawn from the
archive's images (the blue title band over the light body)."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "uiframework", "checks"))
import uicheck  # noqa: E402

LAYOUTS = {
    "MainWnd.xml": (600, 400, "winCtn"),
    "MessageBox1Wnd.xml": (360, 180, ""),
    "MessageBox2Wnd.xml": (360, 180, ""),
    "InstalledPathTipWnd.xml": (400, 180, ""),
    "NetworkTipWnd.xml": (360, 180, ""),
    "ExitTipWnd.xml": (360, 180, ""),
}


def main():
    wine_run, exe, archive, work = sys.argv[1:5]
    os.makedirs(work, exist_ok=True)
    check = uicheck.Checker()
    prefix = uicheck.Prefix(wine_run, work)
    with uicheck.Display() as display:
        render = uicheck.Renderer(wine_run, exe, display, prefix)
        for layout, (w, h, root_name) in sorted(LAYOUTS.items()):
            png = os.path.join(work, layout[:-4] + ".png")
            if os.path.exists(png):
                os.remove(png)
            rc, out, err = render.run(archive, layout, "--tree", "--out", "Z:" + png.replace("/", "\\"))
            lines = [l.split("\t") for l in out.splitlines() if l]
            root = lines[0] if lines else []
            ok = rc == 0 and len(root) == 8 and root[0] == "0" and root[1] == "VerticalLayout" and \
                root[2] == root_name and root[3:7] == ["0", "0", str(w), str(h)]
            check.expect(ok, "%s builds its %dx%d root from the 7z skin" % (layout, w, h))
            if not ok:
                print("exit %d, stderr: %s\n%s" % (rc, err.strip(), out))
                continue
            width, height, rows = uicheck.read_png(png)
            check.expect((width, height) == (w, h), "%s: picture of %dx%d, got %dx%d" % (layout, w, h, width, height))
            band = rows[16][w // 2]
            body = rows[h - 24][12]  # left of the bottom row of buttons
            check.expect(band[2] > band[0] + 60, "%s: blue title band, got %r" % (layout, band[:3]))
            check.expect(min(body[:3]) > 200, "%s: light body, got %r" % (layout, body[:3]))
    prefix.stop()
    check.finish()


if __name__ == "__main__":
    main()
