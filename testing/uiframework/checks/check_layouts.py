"""skin-render --tree on the test layouts, from a folder, a zip and a 7z skin:
every control where the layout rules place it (trees compared whole), and a
layout that includes itself fails cleanly with exit code 1."""
import os
import sys

import uicheck


def main():
    wine_run, exe, layouts, work = sys.argv[1:5]
    os.makedirs(work, exist_ok=True)
    skins = uicheck.make_skins(os.path.join(layouts, "skin"), work)
    cases = sorted(f[:-5] for f in os.listdir(layouts) if f.endswith(".tree"))
    check = uicheck.Checker()
    prefix = uicheck.Prefix(wine_run, work)
    with uicheck.Display() as display:
        render = uicheck.Renderer(wine_run, exe, display, prefix)
        for kind in ("folder", "zip", "7z"):
            for case in cases:
                with open(os.path.join(layouts, case + ".tree")) as f:
                    expected = f.read()
                rc, out, err = render.run(skins[kind], case + ".xml", "--tree")
                ok = rc == 0 and out == expected
                check.expect(ok, "%s from the %s skin" % (case, kind))
                if not ok:
                    print("exit %d, stderr: %s" % (rc, err.strip()))
                    print("expected:\n" + expected + "got:\n" + out)
            rc, out, err = render.run(skins[kind], "cycle.xml", "--tree")
            check.expect(rc == 1 and out == "", "an include cycle ends with exit 1 (%s skin), got %d" % (kind, rc))
            rc, out, err = render.run(skins[kind], "missing.xml", "--tree")
            check.expect(rc == 1, "a missing layout ends with exit 1 (%s skin)" % kind)
    prefix.stop()
    check.finish()


if __name__ == "__main__":
    main()
