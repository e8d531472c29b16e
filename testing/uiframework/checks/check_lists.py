"""skin-render with the list and the combo box.

The gallery (lists.xml) under scripted input, the stream of notifications and
tree lines compared whole: the combo opens its drop-down on a click, Down
selects in it and Return closes it ("itemselect" once); Down and Escape give
the selection at opening back; Escape alone changes nothing; a click on an
item selects it and closes. The list selects by click and by keys (Down skips
a disabled row and scrolls the body to show the selection; End, Home; Up on
the first row does nothing); Page keys and the wheel only scroll. The header's
two columns (80 and 120) size the rows: the horizontal box elements' labels
take one column each, the text elements span both, and each column's text is
drawn inside its column.

Then layouts written afresh for each run from a random seed (printed), which
the gallery never showed: rows at their heights (the item height, or their
own), the child padding between them, even rows in the item background and
odd rows in the list's own under "itemaltbk", the selected row in the
selected colour; and a combo box whose closed face draws the selected item's
text exactly as a label of the same font, padding and colour draws it, with
nothing drawn without a selection."""
import os
import random
import subprocess
import sys
import time

import uicheck

EXPECTED = """notify	windowinit	root	0	0
0	VerticalLayout	root	0	0	300	240	1
1	HorizontalLayout	top	0	0	300	34	1
2	Combo	combo	10	5	160	29	1
3	ListLabelElement	c0	0	0	0	0	1
3	ListLabelElement	c1	0	0	0	0	1
3	ListLabelElement	c2	0	0	0	0	1
3	ListLabelElement	c3	0	0	0	0	1
1	List	list	0	34	300	156	1
2	ListHeader	header	0	34	300	54	1
3	ListHeaderItem	name	0	34	80	54	1
3	ListHeaderItem	size	80	34	200	54	1
2	VerticalLayout		0	54	300	156	1
3	ListHBoxElement	r0	0	54	200	74	1
4	Label	r0a	0	54	80	74	1
4	Label	r0b	80	54	200	74	1
3	ListHBoxElement	r1	0	74	200	94	1
4	Label	r1a	0	74	80	94	1
4	Label	r1b	80	74	200	94	1
3	ListTextElement	r2	0	94	200	114	1
3	ListTextElement	r3	0	114	200	134	1
3	ListHBoxElement	r4	0	134	200	154	1
4	Label	r4a	0	134	80	154	1
4	Label	r4b	80	134	200	154	1
3	ListTextElement	r5	0	154	200	174	1
3	ListTextElement	r6	0	174	200	194	1
3	ListTextElement	r7	0	194	200	214	1
3	ListTextElement	r8	0	214	200	234	1
3	ListTextElement	r9	0	234	200	254	1
3	ScrollBar		284	54	300	156	1
1	Control	rest	0	156	300	240	1
notify	setfocus	combo	0	0
notify	dropdown	combo	0	0
notify	itemselect	combo	2	1
notify	dropdown	combo	0	0
notify	itemselect	combo	3	2
notify	itemselect	combo	2	3
notify	dropdown	combo	0	0
notify	dropdown	combo	0	0
notify	itemselect	combo	1	2
notify	killfocus	combo	0	0
notify	setfocus	r2	0	0
notify	itemclick	r2	0	0
notify	itemselect	list	2	-1
notify	killfocus	r2	0	0
notify	setfocus	r3	0	0
notify	itemselect	list	3	2
notify	killfocus	r3	0	0
notify	setfocus	r4	0	0
notify	itemselect	list	4	3
notify	killfocus	r4	0	0
notify	setfocus	r5	0	0
notify	itemselect	list	5	4
notify	scroll		18	0
notify	killfocus	r5	0	0
notify	setfocus	r7	0	0
notify	itemselect	list	7	5
notify	scroll		58	18
notify	killfocus	r7	0	0
notify	setfocus	r9	0	0
notify	itemselect	list	9	7
notify	scroll		98	58
notify	killfocus	r9	0	0
notify	setfocus	r0	0	0
notify	itemselect	list	0	9
notify	scroll		0	98
notify	scroll		98	0
0	VerticalLayout	root	0	0	300	240	1
1	HorizontalLayout	top	0	0	300	34	1
2	Combo	combo	10	5	160	29	1
3	ListLabelElement	c0	0	0	0	0	1
3	ListLabelElement	c1	0	0	0	0	1
3	ListLabelElement	c2	0	0	0	0	1
3	ListLabelElement	c3	0	0	0	0	1
1	List	list	0	34	300	156	1
2	ListHeader	header	0	34	300	54	1
3	ListHeaderItem	name	0	34	80	54	1
3	ListHeaderItem	size	80	34	200	54	1
2	VerticalLayout		0	54	300	156	1
3	ListHBoxElement	r0	0	-44	200	-24	1
4	Label	r0a	0	-44	80	-24	1
4	Label	r0b	80	-44	200	-24	1
3	ListHBoxElement	r1	0	-24	200	-4	1
4	Label	r1a	0	-24	80	-4	1
4	Label	r1b	80	-24	200	-4	1
3	ListTextElement	r2	0	-4	200	16	1
3	ListTextElement	r3	0	16	200	36	1
3	ListHBoxElement	r4	0	36	200	56	1
4	Label	r4a	0	36	80	56	1
4	Label	r4b	80	36	200	56	1
3	ListTextElement	r5	0	56	200	76	1
3	ListTextElement	r6	0	76	200	96	1
3	ListTextElement	r7	0	96	200	116	1
3	ListTextElement	r8	0	116	200	136	1
3	ListTextElement	r9	0	136	200	156	1
3	ScrollBar		284	54	300	156	1
1	Control	rest	0	156	300	240	1
notify	scroll		76	98
notify	scroll		0	76
"""

STEPS = ["tree", "shot {start}",
         # combo: Down and Return; Down and Escape; Escape alone; a click on an item
         "click 40 17", "key Down", "key Return",
         "click 40 17", "key Down", "key Escape",
         "click 40 17", "key Escape",
         "click 40 17", "click 40 60",
         # list: click, arrows over a disabled row, End, Home, Up on the first row
         "click 20 100", "key Down", "key Down", "key Down", "key Down", "key End", "key Home", "key Up",
         # Page keys and the wheel scroll only
         "key PageDown", "tree", "wheel 100 100 120", "key PageUp"]


def ink(rows, box, background):
    left, top, right, bottom = box
    return any(rows[y][x][:3] != background for y in range(top, bottom) for x in range(left, right))


def gallery(render, folder, work, check):
    start = os.path.join(work, "lists-start.png")
    script = os.path.join(work, "lists.in")
    with open(script, "w") as f:
        f.write("\n".join(s.format(start="Z:" + start.replace("/", "\\")) for s in STEPS) + "\n")
    rc, out, err = render.run(os.path.join(folder, "skin"), "lists.xml", "--notify", "--input",
                              "Z:" + script.replace("/", "\\"))
    ok = rc == 0 and out == EXPECTED
    check.expect(ok, "gallery under scripted input, the stream compared whole")
    if not ok:
        print("exit %d, stderr: %s" % (rc, err.strip()))
        print("expected:\n" + EXPECTED + "got:\n" + out)
    if rc != 0:
        return
    rows = uicheck.read_png(start)[2]
    # Rows of text elements (r2, r3: 94..134) and of box elements (r0, r1: 54..94)
    # draw each column's text inside that column; nothing right of the last one.
    even, odd = (0xF4, 0xF4, 0xF4), (255, 255, 255)
    for name, top, bg in (("r0", 54, even), ("r1", 74, odd), ("r2", 94, even), ("r3", 114, odd)):
        band = (top + 3, top + 17)
        check.expect(ink(rows, (2, band[0], 78, band[1]), bg), "%s: text in the first column" % name)
        check.expect(ink(rows, (82, band[0], 198, band[1]), bg), "%s: text in the second column" % name)
        check.expect(not ink(rows, (201, band[0], 280, band[1]), (255, 255, 255)),
                     "%s: nothing beyond the columns" % name)
    check.expect(ink(rows, (2, 37, 78, 52), (0xDD, 0xDD, 0xDD)), "the header shows its first column's text")


def colour(rng, used):
    while True:
        c = (rng.randrange(40, 216), rng.randrange(40, 216), rng.randrange(40, 216))
        if all(sum(abs(a - b) for a, b in zip(c, u)) > 60 for u in used):
            used.append(c)
            return c


def hexc(c):
    return "#FF%02X%02X%02X" % c


WORDS = ["Alpha", "Beta", "Gamma", "Delta", "Omega", "Sigma", "Kappa", "Theta"]


def fresh_layouts(render, work, check, seed):
    rng = random.Random(seed)
    used = [(255, 255, 255), (0, 0, 0)]
    list_bg, row_bg, sel_bg, text = colour(rng, used), colour(rng, used), colour(rng, used), colour(rng, used)
    item_height = rng.randrange(16, 28)
    padding = rng.randrange(0, 5)
    count = rng.randrange(5, 9)
    own = {i: rng.randrange(14, 34) for i in rng.sample(range(count), 2)}
    selected = rng.randrange(count)
    rows_xml = []
    for i in range(count):
        extra = (' height="%d"' % own[i]) if i in own else ""
        extra += ' selected="true"' if i == selected else ""
        rows_xml.append('<ListLabelElement name="row%d" text="%s"%s />' % (i, WORDS[i % len(WORDS)], extra))
    pick = rng.randrange(4)
    cw, ch, tp, ip = rng.randrange(110, 160), rng.randrange(22, 30), rng.randrange(0, 6), rng.randrange(0, 6)
    items = "".join('<ListLabelElement text="%s"%s />' % (WORDS[i], ' selected="true"' if i == pick else "")
                    for i in range(4))
    plain = "".join('<ListLabelElement text="%s" />' % WORDS[i] for i in range(4))
    layout = """<?xml version="1.0" encoding="utf-8"?>
<Window size="520,400">
  <Font id="0" name="Tahoma" size="13" />
  <VerticalLayout name="root" bkcolor="#FFFFFFFF">
    <List name="list" height="300" bkcolor="{lbg}" itembkcolor="{rbg}" itemselectedbkcolor="{sbg}" itemaltbk="true"
          itemheight="{ih}" childpadding="{cp}" header="hidden" itemfont="0">{rows}</List>
    <HorizontalLayout name="faces" height="{ch}">
      <Combo name="combo" width="{cw}" textpadding="{tp},0,{tp},0" itemtextpadding="{ip},0,{ip},0" itemfont="0"
             itemselectedtextcolor="{tc}" bkcolor="#FFFFFFFF">{items}</Combo>
      <Label name="twin" width="{cw}" textpadding="{tip},0,{tip},0" font="0" textcolor="{tc}" text="{word}" />
      <Combo name="none" width="{cw}" itemfont="0" bkcolor="#FFFFFFFF">{plain}</Combo>
    </HorizontalLayout>
    <Control />
  </VerticalLayout>
</Window>
""".format(lbg=hexc(list_bg), rbg=hexc(row_bg), sbg=hexc(sel_bg), ih=item_height, cp=padding,
           rows="".join(rows_xml), ch=ch, cw=cw, tp=tp, ip=ip, tc=hexc(text), items=items, tip=tp + ip,
           word=WORDS[pick], plain=plain)
    skin = os.path.join(work, "fresh")
    os.makedirs(skin, exist_ok=True)
    with open(os.path.join(skin, "fresh.xml"), "w") as f:
        f.write(layout)
    picture = os.path.join(work, "fresh.png")
    rc, out, err = render.run(skin, "fresh.xml", "--tree", "--out", "Z:" + picture.replace("/", "\\"))
    if not check.expect(rc == 0, "the fresh layout renders"):
        print(err)
        return
    tree = {}
    for line in out.splitlines():
        p = line.split("\t")
        if len(p) == 8:
            tree[p[2]] = tuple(int(v) for v in p[3:7])
    rows = uicheck.read_png(picture)[2]
    top = tree["list"][1] + 0
    expect_top = top
    for i in range(count):
        box = tree.get("row%d" % i)
        height = own.get(i, item_height)
        check.expect(box is not None and box[1] == expect_top and box[3] - box[1] == height,
                     "row %d at %d, %d high (got %s)" % (i, expect_top, height, box))
        if box is None:
            continue
        expect_top = box[3] + padding
        want = sel_bg if i == selected else (row_bg if i % 2 == 0 else list_bg)
        x, y = box[2] - 3, (box[1] + box[3]) // 2
        if 0 <= y < len(rows):
            got = rows[y][x][:3]
            check.expect(got == want, "row %d background %s (got %s)" % (i, want, got))
        if i > 0 and padding > 0:
            gap_y = box[1] - 1
            check.expect(rows[gap_y][x][:3] == list_bg, "the padding above row %d shows the list" % i)

    combo, twin, none = tree["combo"], tree["twin"], tree["none"]
    face = [rows[y][combo[0]:combo[2]] for y in range(combo[1], combo[3])]
    label = [rows[y][twin[0]:twin[2]] for y in range(twin[1], twin[3])]
    check.expect(any(px[:3] == text for line in face for px in line),
                 "the combo's face draws in the selected text colour")
    check.expect(face == label, "the combo's face shows the selected item's text as a label draws it")
    check.expect(not ink(rows, (none[0], none[1], none[2], none[3]), (255, 255, 255)),
                 "a combo without a selection shows no text")


def main():
    wine_run, exe, folder, work = sys.argv[1:5]
    os.makedirs(work, exist_ok=True)
    check = uicheck.Checker()
    prefix = uicheck.Prefix(wine_run, work)
    seed = int(os.environ.get("LISTS_SEED", int(time.time())))
    print("seed %d (LISTS_SEED to repeat)" % seed)
    with uicheck.Display() as display:
        render = uicheck.Renderer(wine_run, exe, display, prefix)
        subprocess.run(["xdotool", "mousemove", "1023", "767"], env=prefix.env(display), check=True)
        gallery(render, folder, work, check)
        fresh_layouts(render, work, check, seed)
    prefix.stop()
    check.finish()


if __name__ == "__main__":
    main()
