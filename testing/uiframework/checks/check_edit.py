"""skin-render --notify --input with edits: the whole notification stream of
typing (one "textchanged" per character, "return" for Return and nothing
inserted), the caret at the end when Tab opens an edit (a disabled one is no
tab stop and opens no window when clicked) and all selected with "autoselall", the maximum length, digits only, read-only and a password's
native window, an open edit's own background and text colour; the tip painted
only over an empty, unfocused box and never read back as its text; a password
painted as its mask. Then an edit that hides itself
from inside its own "textchanged", and an open edit deleted: every run has the
heap's free checking on, so that a window or control used after it was freed
ends the program. Last, typing in a layered window reaches its picture."""
import os
import subprocess
import sys

import uicheck

# Item rectangles of the layout's edits (edit.xml).
PLAIN = (10, 10, 200, 40)
KEPT = (10, 50, 200, 80)
SELALL = (210, 50, 400, 80)
DIGITS = (10, 130, 200, 160)
OFF = (210, 210, 400, 240)
TALL = (10, 210, 200, 270)
TALL_TOP = (10, 210, 200, 232)   # where its top-aligned tip is painted, above its window
SECRET = (210, 90, 400, 120)
MASKLOOK = (210, 130, 400, 160)
ES_READONLY, ES_PASSWORD, ES_NUMBER = 0x800, 0x20, 0x2000


def centre(rect):
    return "%d %d" % ((rect[0] + rect[2]) // 2, (rect[1] + rect[3]) // 2)


TYPING = """notify	windowinit	root	0	0
notify	setfocus	btn	0	0
query	plain		-
query	kept	abc	-
notify	killfocus	btn	0	0
notify	setfocus	plain	0	0
query	plain		EditWnd	50000080		0
notify	textchanged	plain	0	0
notify	textchanged	plain	0	0
notify	textchanged	plain	0	0
notify	return	plain	0	0
query	plain	abc	EditWnd	50000080	abc	0
notify	killfocus	plain	0	0
notify	setfocus	kept	0	0
notify	textchanged	kept	0	0
query	kept	abcd	EditWnd	50000080	abcd	0
notify	killfocus	kept	0	0
notify	setfocus	selall	0	0
notify	textchanged	selall	0	0
query	selall	x	EditWnd	50000080	x	0
notify	killfocus	selall	0	0
notify	setfocus	limited	0	0
notify	textchanged	limited	0	0
notify	textchanged	limited	0	0
notify	textchanged	limited	0	0
notify	textchanged	limited	0	0
notify	textchanged	limited	0	0
query	limited	12345	EditWnd	50000080	12345	0
notify	killfocus	limited	0	0
notify	setfocus	digits	0	0
notify	textchanged	digits	0	0
notify	textchanged	digits	0	0
query	digits	12	EditWnd	50002080	12	0
notify	killfocus	digits	0	0
notify	setfocus	fixed	0	0
query	fixed	keep	EditWnd	50000880	keep	0
notify	killfocus	fixed	0	0
notify	setfocus	secret	0	0
query	secret	abc	EditWnd	500000a0	abc	42
notify	killfocus	secret	0	0
notify	setfocus	plain	0	0
notify	textchanged	plain	0	0
notify	textchanged	plain	0	0
notify	textchanged	plain	0	0
notify	killfocus	plain	0	0
notify	setfocus	tall	0	0
notify	killfocus	tall	0	0
query	off	off	-
notify	mouseenter	btn	0	1638750
notify	setfocus	btn	0	0
notify	click	btn	0	0
query	plain		-
query	secret	abc	-
"""

LIFETIME = """notify	windowinit	root	0	0
notify	setfocus	btn	0	0
notify	killfocus	btn	0	0
notify	setfocus	vanish	0	0
notify	textchanged	vanish	0	0
notify	killfocus	vanish	0	0
query	vanish	a	-
notify	setfocus	kept	0	0
notify	textchanged	kept	0	0
query	kept	qabc	EditWnd	50000080	qabc	0
child	EditWnd	1
notify	mouseenter	btn	0	1638750
notify	setfocus	btn	0	0
notify	click	btn	0	0
notify	mouseleave	btn	0	1638505
notify	killfocus	btn	0	0
notify	setfocus	plain	0	0
notify	killfocus	plain	0	0
notify	killfocus	btn	0	0
notify	setfocus	plain	0	0
notify	textchanged	plain	0	0
query	plain	q	EditWnd	50000080	q	0
child	EditWnd	1
"""


def run(check, render, skin, work, name, steps, expected):
    script = os.path.join(work, name + ".in")
    with open(script, "w") as f:
        f.write("\n".join(steps) + "\n")
    subprocess.run(["xdotool", "mousemove", "1023", "767"], env=render.prefix.env(render.display), check=True)
    rc, out, err = render.run(skin, "edit.xml", "--notify", "--input", "Z:" + script)
    ok = rc == 0 and out == expected
    if not check.expect(ok, "%s: the whole stream" % name):
        print("exit %d, stderr: %s" % (rc, err.strip()[-2000:]))
        print("expected:\n" + expected + "got:\n" + out)
    return rc == 0


def reddish(rows, rect):
    left, top, right, bottom = rect
    return sum(1 for y in range(top + 1, bottom - 1) for x in range(left + 1, right - 1)
               if rows[y][x][0] > 150 and rows[y][x][1] < 100 and rows[y][x][2] < 100)


def dark(rows, rect):
    left, top, right, bottom = rect
    return sum(1 for y in range(top + 1, bottom - 1) for x in range(left + 1, right - 1)
               if max(rows[y][x][:3]) < 100)


def crop(rows, rect):
    left, top, right, bottom = rect
    return [row[left:right] for row in rows[top:bottom]]


def check_typing(check, render, skin, work):
    shots = {}

    def shot(name):
        shots[name] = os.path.join(work, "edit-%s.png" % name)
        return "shot Z:" + shots[name]

    steps = [shot("start"), "query plain", "query kept",
             "click " + centre(PLAIN), shot("focused"), "query plain",
             "text abc", "key Return", "query plain",
             "key Tab", "text d", "query kept",
             "click " + centre(SELALL), "text x", "query selall",
             "click 100 105", "text 1234567", "query limited",
             "click 100 145", "text a1b2", "query digits", shot("digits"),
             "click 100 185", "text xy", "query fixed", shot("fixed"),
             "click " + centre(SECRET), "query secret",
             "click " + centre(PLAIN), "key End", "key Back", "key Back", "key Back",
             "click " + centre(TALL), shot("tall"), "click " + centre(OFF), "query off", "click 350 25", "query plain", "query secret", shot("end")]
    if not run(check, render, skin, work, "typing", steps, TYPING):
        return
    _, _, start = uicheck.read_png(shots["start"])
    _, _, focused = uicheck.read_png(shots["focused"])
    _, _, end = uicheck.read_png(shots["end"])
    check.expect(reddish(start, PLAIN) > 30, "the tip over the empty, unfocused box (%d red pixels)" %
                 reddish(start, PLAIN))
    check.expect(reddish(start, KEPT) == 0 and dark(start, KEPT) > 30,
                 "a box with a text shows its text, not the tip (%d red, %d dark)" %
                 (reddish(start, KEPT), dark(start, KEPT)))
    check.expect(reddish(focused, PLAIN) == 0, "no tip while the box has the focus (%d red pixels)" %
                 reddish(focused, PLAIN))
    _, _, tall = uicheck.read_png(shots["tall"])
    check.expect(reddish(start, TALL_TOP) > 30 and reddish(tall, TALL_TOP) == 0,
                 "a focused box paints no tip where its window does not cover it (%d red at first, %d focused)" %
                 (reddish(start, TALL_TOP), reddish(tall, TALL_TOP)))
    check.expect(reddish(end, PLAIN) > 30, "the tip again once the box is emptied and left (%d red pixels)" %
                 reddish(end, PLAIN))
    _, _, digits = uicheck.read_png(shots["digits"])
    _, _, fixed = uicheck.read_png(shots["fixed"])
    blue = sum(1 for y in range(DIGITS[1], DIGITS[3]) for x in range(DIGITS[0], DIGITS[2])
               if digits[y][x][:3] == (0, 0, 255))
    check.expect(digits[145][150][:3] == (192, 255, 192) and blue > 5,
                 "an open edit's own background and its text colour (%s, %d blue pixels)" %
                 (digits[145][150][:3], blue))
    check.expect(fixed[185][150][:3] == (255, 224, 192),
                 "a read-only open edit's own background (%s)" % (fixed[185][150][:3],))
    green = sum(1 for y in range(OFF[1], OFF[3]) for x in range(OFF[0], OFF[2]) if end[y][x][:3] == (0, 192, 0))
    check.expect(green > 5, "a disabled edit, clicked, paints its text in the disabled colour (%d pixels)" % green)
    mask = crop(end, SECRET)
    check.expect(dark(end, SECRET) > 10 and mask == crop(end, MASKLOOK),
                 "the password \"abc\" is painted exactly as the text \"***\"")


def check_lifetime(check, render, skin, work):
    # An edit that hides itself at its first change closes its window while the
    # system edit is still inside that change. A click on an open edit's padding
    # (outside its window) takes the focus from the window for a moment: the
    # window stays open and the caret goes to the start. An open edit deleted
    # takes its window with it, and typing afterwards reaches nothing. An open
    # edit asks for the focus again when the window is resized (the manager
    # hands it to the tab stop before it first) and goes on taking the typing.
    steps = ["click 300 185", "text a", "windows", "query vanish",
             "click " + centre(KEPT), "click %d %d" % (KEPT[0] + 2, KEPT[1] + 2), "text q", "query kept",
             "windows", "delete kept", "windows", "text z", "click 350 25",
             "click " + centre(PLAIN), "sizewindow 430 290", "text q", "query plain", "windows"]
    run(check, render, skin, work, "lifetime", steps, LIFETIME)


def check_layered(check, render, skin, work):
    # A layered window's picture holds a native window only as the manager
    # prints it: the typed text must reach it.
    before = os.path.join(work, "layered-before.png")
    after = os.path.join(work, "layered-after.png")
    script = os.path.join(work, "layered.in")
    with open(script, "w") as f:
        f.write("shot Z:%s\nclick 100 25\ntext abc\nquery typed\nshot Z:%s\n" % (before, after))
    rc, out, err = render.run(skin, "layered.xml", "--notify", "--input", "Z:" + script)
    want = ("notify\twindowinit\troot\t0\t0\nnotify\tsetfocus\ttyped\t0\t0\n" +
            "notify\ttextchanged\ttyped\t0\t0\n" * 3 + "query\ttyped\tabc\tEditWnd\t50000080\tabc\t0\n")
    if not check.expect(rc == 0 and out == want, "typing in a layered window"):
        print("exit %d, stderr: %s\ngot:\n%s" % (rc, err.strip()[-2000:], out))
        return
    field = (14, 13, 196, 37)
    first = dark(uicheck.read_png(before)[2], field)
    typed = dark(uicheck.read_png(after)[2], field)
    check.expect(typed > first + 30, "the typed text is in the layered picture (%d dark pixels, %d before)" %
                 (typed, first))


def main():
    wine_run, exe, folder, work = sys.argv[1:5]
    os.makedirs(work, exist_ok=True)
    check = uicheck.Checker()
    prefix = uicheck.Prefix(wine_run, work)
    prefix.check_freed_memory(os.path.basename(exe))
    with uicheck.Display() as display:
        render = uicheck.Renderer(wine_run, exe, display, prefix)
        check_typing(check, render, folder, work)
        check_lifetime(check, render, folder, work)
        check_layered(check, render, folder, work)
    prefix.stop()
    check.finish()


if __name__ == "__main__":
    main()
