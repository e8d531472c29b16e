"""skin-render with the tab layout and the text with links: the tab shows only
its current page (the others hidden in the tree); selecting a page by script
("selectedid") shows it, notifies "tabselect" once with the new and old index
and moves the focus into it; a scripted click on a link notifies "link" with
its index, a click beside the links nothing; the link under the pointer is
drawn in the hover colour and goes back when the pointer leaves; a cleared
text keeps no link to hit. The stream of notifications and tree lines is
compared whole. The text measures its own height (a multi-line label), and the
page's move of the focus to its first tab stop waits for the next layout, so it
follows "tabselect"; a click gives the text the focus."""
import os
import subprocess
import sys

import uicheck

LINK = (0, 0, 255)
HOVER = (255, 0, 0)
FIRST, SECOND, BESIDE, AWAY = (10, 10), (10, 35), (250, 10), (250, 180)

EXPECTED = """notify	windowinit	root	0	0
0	VerticalLayout	root	0	0	300	200	1
1	TabLayout	pages	0	0	300	150	1
2	VerticalLayout	page0	0	0	300	140	1
3	Text	links	0	0	300	48	1
2	VerticalLayout	page1	0	0	0	0	0
3	Probe	probe1	0	0	0	0	0
2	VerticalLayout	page2	0	0	0	0	0
3	Probe	probe2	0	0	0	0	0
1	Control	rest	0	150	300	200	1
notify	setfocus	links	0	0
notify	link	links	1	0
notify	link	links	0	0
notify	killfocus	links	0	0
notify	setfocus	page2	0	0
notify	tabselect	pages	2	0
notify	killfocus	page2	0	0
notify	setfocus	probe2	0	0
0	VerticalLayout	root	0	0	300	200	1
1	TabLayout	pages	0	0	300	150	1
2	VerticalLayout	page0	0	0	300	140	0
3	Text	links	0	0	300	48	0
2	VerticalLayout	page1	0	0	0	0	0
3	Probe	probe1	0	0	0	0	0
2	VerticalLayout	page2	0	0	300	140	1
3	Probe	probe2	0	0	300	40	1
1	Control	rest	0	150	300	200	1
notify	killfocus	probe2	0	0
notify	setfocus	page0	0	0
notify	tabselect	pages	0	2
notify	killfocus	page0	0	0
notify	setfocus	links	0	0
"""


def colours(rows, box):
    left, top, right, bottom = box
    return {rows[y][x][:3] for y in range(top, bottom) for x in range(left, right)}


def main():
    wine_run, exe, folder, work = sys.argv[1:5]
    os.makedirs(work, exist_ok=True)
    check = uicheck.Checker()
    prefix = uicheck.Prefix(wine_run, work)
    shots = {}

    def shot(name):
        shots[name] = os.path.join(work, "pages-%s.png" % name)
        return "shot Z:" + shots[name]

    steps = ["tree",
             "click %d %d" % SECOND, "click %d %d" % FIRST, "click %d %d" % BESIDE,
             "move %d %d" % FIRST, shot("hover-first"),
             "move %d %d" % SECOND, shot("hover-second"),
             "move %d %d" % AWAY, shot("left"),
             "attr pages selectedid 2", "tree",
             # the current page again, and one past the pages: no change, no notification
             "attr pages selectedid 2", "attr pages selectedid 3",
             "attr pages selectedid 0", "attr links text",
             "click %d %d" % SECOND, shot("cleared")]
    script = os.path.join(work, "pages.in")
    with open(script, "w") as f:
        f.write("\n".join(steps) + "\n")
    with uicheck.Display() as display:
        render = uicheck.Renderer(wine_run, exe, display, prefix)
        subprocess.run(["xdotool", "mousemove", "1023", "767"], env=prefix.env(display), check=True)
        rc, out, err = render.run(os.path.join(folder, "skin"), "pages.xml", "--notify", "--input",
                                  "Z:" + script.replace("/", "\\"))
        ok = rc == 0 and out == EXPECTED
        check.expect(ok, "pages and links under scripted input, the stream compared whole")
        if not ok:
            print("exit %d, stderr: %s" % (rc, err.strip()))
            print("expected:\n" + EXPECTED + "got:\n" + out)
        if rc == 0:
            rows = {name: uicheck.read_png(path)[2] for name, path in shots.items()}
            line1, line2 = (0, 0, 150, 23), (0, 25, 150, 48)
            cases = [("hover-first", line1, HOVER, LINK), ("hover-second", line1, LINK, HOVER),
                     ("hover-second", line2, HOVER, LINK), ("left", line1, LINK, HOVER),
                     ("left", line2, LINK, HOVER), ("cleared", line1, None, LINK)]
            for name, box, present, absent in cases:
                seen = colours(rows[name], box)
                if present:
                    check.expect(present in seen, "%s: %s drawn in %s" % (name, box, present))
                check.expect(absent not in seen, "%s: nothing in %s within %s" % (name, absent, box))
    prefix.stop()
    check.finish()


if __name__ == "__main__":
    main()
