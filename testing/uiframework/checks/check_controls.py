"""skin-render with the controls and images: each image option (source, corner,
mask, fade, hole, x and y tiling, destination) puts its colours at known pixels; a progress bar of 50/100 on 520 pixels fills
columns 0-259 exactly; a five-state button (a 101-pixel strip) is drawn with its
normal, hot, pushed, focused and disabled states under scripted input; one click
gives one "click"; options of a group select exactly one and notify
"selectchanged" once; a check box toggles; the drop shadow sits at the window's
rectangle grown by its extents, follows moves and resizes and hides with it.
Last, the gallery layouts are rendered into the build folder for a person to
look at (Latin and, with the CJK font installed, CJK text)."""
import os
import shutil
import subprocess
import sys

import uicheck

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import make_images  # noqa: E402  (the PNG writer of the image fixtures)

WHITE = (255, 255, 255, 255)
BLACK = (0, 0, 0, 255)
RED = (255, 0, 0, 255)
GREY = (128, 128, 128, 255)
GREEN = (0, 255, 0, 255)
BLUE = (0, 0, 255, 255)
# The five states of states.png, in its column order, then its remainder column.
NORMAL, PUSHED, HOT, FOCUSED, DISABLED = [(200, 0, 0, 255), (0, 200, 0, 255), (0, 0, 200, 255),
                                          (200, 200, 0, 255), (0, 200, 200, 255)]
REMAINDER = (90, 90, 90, 255)
BTN, OFF, O1, O2, CHK = (50, 55), (170, 55), (20, 105), (80, 105), (140, 105)
EXTENT = 10
NINE = [(255, 0, 0), (0, 160, 0), (0, 0, 255), (255, 255, 0), (0, 255, 255), (255, 0, 255),
        (128, 0, 0), (0, 0, 128), (64, 64, 64)]
TILE = [[(10, 20, 30), (40, 50, 60), (70, 80, 90)], [(100, 110, 120), (130, 140, 150), (160, 170, 180)]]
CJK_FONT = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc"


def write_png(path, rows):
    with open(path, "wb") as f:
        f.write(make_images.png(rows))


def write_images(skin):
    strip = [NORMAL, PUSHED, HOT, FOCUSED, DISABLED]
    write_png(os.path.join(skin, "states.png"),
              [[strip[x // 20] if x < 100 else REMAINDER for x in range(101)]] * 30)
    # A shadow picture: dark corners and edges of 10 pixels around an empty middle.
    write_png(os.path.join(skin, "shadow.png"),
              [[(0, 0, 0, 120) if min(x, y, 29 - x, 29 - y) < EXTENT else (0, 0, 0, 0) for x in range(30)]
               for y in range(30)])
    write_png(os.path.join(skin, "nine.png"), [[NINE[(y // 4) * 3 + x // 4] + (255,) for x in range(12)]
                                               for y in range(12)])
    write_png(os.path.join(skin, "tile.png"), [[c + (255,) for c in row] for row in TILE])
    write_png(os.path.join(skin, "masked.png"),
              [[(255, 0, 255, 255) if (x // 4 + y // 4) % 2 == 0 else (0, 128, 0, 255) for x in range(16)]
               for y in range(16)])
    write_png(os.path.join(skin, "icon.png"), [[(0, 0, 200, 255)] * 12] * 12)


def check_states(check, render, skin, work):
    shots = {}

    def shot(name):
        shots[name] = os.path.join(work, "controls-%s.png" % name)
        return "shot Z:" + shots[name]

    steps = [shot("start"),
             "move %d %d" % BTN, shot("hot"),
             "down %d %d" % BTN, shot("pushed"),
             "up %d %d" % BTN, shot("released"),
             "move 400 180", shot("focused"),
             "click %d %d" % O1, "click %d %d" % O2, "click %d %d" % O2, shot("options"),
             "click %d %d" % CHK, shot("checked"),
             "click %d %d" % CHK, shot("unchecked")]
    script = os.path.join(work, "controls.in")
    with open(script, "w") as f:
        f.write("\n".join(steps) + "\n")
    subprocess.run(["xdotool", "mousemove", "1023", "767"], env=render.prefix.env(render.display), check=True)
    rc, out, err = render.run(skin, "controls.xml", "--notify", "--input", "Z:" + script)
    if not check.expect(rc == 0, "controls under scripted input (exit %d %s)" % (rc, err.strip())):
        return
    stream = [line for line in out.splitlines()
              if line.split("\t")[1:2] in (["click"], ["selectchanged"])]
    want = ["notify\tclick\tbtn\t0\t0",
            "notify\tclick\to1\t0\t0", "notify\tselectchanged\to1\t0\t0",
            "notify\tclick\to2\t0\t0", "notify\tselectchanged\to2\t0\t0",
            "notify\tclick\to2\t0\t0",
            "notify\tclick\tchk\t0\t0", "notify\tselectchanged\tchk\t0\t0",
            "notify\tclick\tchk\t0\t0", "notify\tselectchanged\tchk\t0\t0"]
    if not check.expect(stream == want, "clicks and selection changes, one each"):
        print("got:\n" + "\n".join(stream))

    def pixels(name, expectations):
        uicheck.expect_pixels(check, shots[name], name, expectations)

    pixels("start", [((0, 10), RED, "the progress bar's first column"),
                     ((259, 10), RED, "column 259, the last of 50/100"),
                     ((260, 10), BLACK, "column 260, the background"),
                     ((519, 10), BLACK, "the bar's last column"),
                     ((520, 10), WHITE, "behind the bar"),
                     (BTN, FOCUSED, "the first tab stop has the focus at first"),
                     (OFF, DISABLED, "a disabled button's state"),
                     (O1, GREY, "an option"), (CHK, GREY, "a check box")])
    pixels("hot", [(BTN, HOT, "hot under the pointer")])
    pixels("pushed", [(BTN, PUSHED, "pushed while the button is down")])
    pixels("released", [(BTN, HOT, "hot again after the release")])
    pixels("focused", [(BTN, FOCUSED, "focused after the click, the pointer away")])
    pixels("options", [(O1, GREY, "the first option deselected"), (O2, GREEN, "the second selected"),
                       (BTN, NORMAL, "the button's normal state once it lost the focus"),
                       ((99, 55), NORMAL, "the normal state to the button's edge (no remainder column)")])
    pixels("checked", [(CHK, BLUE, "the check box checked")])
    pixels("unchecked", [(CHK, GREY, "and unchecked again")])


def check_images(check, render, skin, work):
    out = os.path.join(work, "images.png")
    rc, _, err = render.run(skin, "images.xml", "--out", "Z:" + out)
    if not check.expect(rc == 0, "the image options painted (exit %d %s)" % (rc, err.strip())):
        return
    _, _, rows = uicheck.read_png(out)
    w = (255, 255, 255)
    cases = [((1, 1), NINE[4], "source: only the middle region, stretched"),
             ((23, 23), NINE[4], "source: to the far corner"),
             ((31, 1), NINE[0], "corner: the top-left corner unstretched"),
             ((33, 3), NINE[0], "corner: its last pixel"),
             ((34, 1), NINE[1], "corner: the top edge begins"),
             ((42, 12), NINE[4], "corner: the stretched middle"),
             ((52, 12), NINE[5], "corner: the right edge"),
             ((53, 23), NINE[8], "corner: the bottom-right corner"),
             ((61, 1), w, "mask: the mask colour is transparent"),
             ((65, 1), (0, 128, 0), "mask: other colours stay"),
             ((91, 1), (255, 127, 127), "fade 128: red over white at half"),
             ((111, 1), NINE[0], "hole: the corners are drawn"),
             ((122, 12), w, "hole: the middle is left out"),
             ((140, 0), TILE[0][0], "x and y tiles: the first tile"),
             ((143, 0), TILE[0][0], "x and y tiles: the second tile along x"),
             ((145, 1), TILE[1][2], "x and y tiles: inside the second tile"),
             ((147, 4), TILE[0][1], "x and y tiles: the third row of tiles, cut"),
             ((156, 1), TILE[1][0], "x tiles: the third tile"),
             ((161, 5), TILE[1][1], "y tiles: the third tile"),
             ((161, 6), TILE[0][1], "y tiles: the fourth tile, cut"),
             ((171, 1), w, "dest: outside the destination"),
             ((172, 2), NINE[0], "dest: its top-left"),
             ((183, 13), NINE[8], "dest: its bottom-right"),
             ((184, 14), w, "dest: behind it")]
    for (x, y), want, what in cases:
        got = rows[y][x][:3]
        check.expect(all(abs(a - b) <= 2 for a, b in zip(got, want)),
                     "%s at %d,%d is %s (got %s)" % (what, x, y, want, got))


def check_shadow(check, render, skin, work):
    steps = ["shadow", "movewindow 100 80", "shadow", "sizewindow 300 200", "shadow", "sizewindow 150 100",
             "shadow", "hidewindow", "shadow", "showwindow", "shadow"]
    script = os.path.join(work, "shadow.in")
    with open(script, "w") as f:
        f.write("\n".join(steps) + "\n")
    arg = "shadow.png,%d,%d,%d,%d,0,0,0,0" % ((EXTENT,) * 4)
    rc, out, err = render.run(skin, "plain.xml", "--shadow", arg, "--input", "Z:" + script)
    if not check.expect(rc == 0, "a window with a shadow (exit %d %s)" % (rc, err.strip())):
        return
    lines = [l.split("\t") for l in out.splitlines() if l.startswith(("window\t", "shadow\t"))]
    pairs = [(list(map(int, lines[i][1:])), list(map(int, lines[i + 1][1:]))) for i in range(0, len(lines) - 1, 2)]
    check.expect(len(pairs) == 6, "six window and shadow positions (got %d)" % len(pairs))
    names = ["at first", "after a move", "after growing", "after shrinking", "hidden", "shown again"]
    for what, (win, sh) in zip(names, pairs):
        grown = [win[1] - EXTENT, win[2] - EXTENT, win[3] + EXTENT, win[4] + EXTENT]
        check.expect(sh[0] == win[0], "%s: the shadow's visibility follows the window's (%d, %d)" %
                     (what, win[0], sh[0]))
        if win[0]:
            check.expect(sh[1:] == grown, "%s: the shadow is the window %s grown by %d: %s (got %s)" %
                         (what, win[1:], EXTENT, grown, sh[1:]))
    if len(pairs) == 6:
        check.expect(pairs[1][0][1:3] == [100, 80] and pairs[2][0][3:] == [400, 280],
                     "the window really moved and grew (%s, %s)" % (pairs[1][0], pairs[2][0]))


GALLERY = """<?xml version="1.0" encoding="utf-8"?>
<!-- Every image option, markup tag and control state, for a person to look at. -->
<Window size="760,560">
  <Font id="0" name="{face}" size="13" default="true" />
  <Font id="1" name="{face}" size="18" bold="true" />
  <VerticalLayout name="root" bkcolor="#FFF4F4F4" inset="10,10,10,10" childpadding="8">
    <Label text="{title}" font="1" height="26" />
    <HorizontalLayout height="64" childpadding="8">
      <Control width="64" bkimage="nine.png" />
      <Control width="64" bkimage="file='nine.png' corner='4,4,4,4'" />
      <Control width="64" bkimage="file='nine.png' source='4,4,8,8'" />
      <Control width="64" bkimage="file='nine.png' corner='4,4,4,4' hole='true'" />
      <Control width="64" bkimage="file='nine.png' fade='96'" />
      <Control width="64" bkimage="file='tile.png' xtiled='true' ytiled='true'" />
      <Control width="64" bkimage="file='tile.png' xtiled='true'" />
      <Control width="64" bkimage="file='masked.png' mask='#FFFF00FF'" />
      <Control width="64" bkimage="file='nine.png' dest='16,16,48,48'" />
    </HorizontalLayout>
    <Label height="20" text="{captions}" />
    <Label height="110" showhtml="true" multiline="true" text="{markup}" />
    <HorizontalLayout height="36" childpadding="8">
      <Button width="110" text="{button}" bkcolor="#FFDDE6F0" bordersize="1" bordercolor="#FF5070A0" hotbkcolor="#FFB0C8E8" />
      <Button width="110" text="{disabled}" bkcolor="#FFDDDDDD" enabled="false" disabledtextcolor="#FF999999" />
      <Button width="100" fivestatusimage="states.png" text="{states}" textcolor="#FFFFFFFF" />
      <Option width="110" group="g" selected="true" text="{option1}" selectedbkcolor="#FF90D090" bkcolor="#FFE0E0E0" />
      <Option width="110" group="g" text="{option2}" selectedbkcolor="#FF90D090" bkcolor="#FFE0E0E0" />
      <CheckBox width="110" selected="true" text="{check}" selectedimage="file='icon.png' dest='2,12,14,24'" textpadding="18,0,0,0" align="left" />
    </HorizontalLayout>
    <Progress height="16" bkcolor="#FFD0D0D0" foreimage="file='nine.png' corner='4,4,4,4'" value="35" />
    <Progress height="16" bkcolor="#FFD0D0D0" foreimage="color='#FF2080E0'" value="80" text="80%" />
    <HorizontalLayout height="60" childpadding="8">
      <Label width="230" text="{effect}" font="1" textcolor="#FFFF4000" textcolor1="#FF0040FF" enabledeffect="true" enabledstroke="true" strokecolor="#FFFFFFFF" />
      <Label width="230" text="{effect}" font="1" textcolor="#FF2060C0" enabledeffect="true" enabledshadow="true" shadowoffset="2,45" textshadowcolora="#80000000" />
      <Label width="230" text="{effect}" font="1" textcolor="#FF00A040" enabledeffect="true" enabledluminous="true" luminousfuzzy="3" />
    </HorizontalLayout>
    <Label height="34" multiline="true" endellipsis="true" text="{long}" />
  </VerticalLayout>
</Window>
"""

LATIN = dict(face="Tahoma", title="Controls gallery", captions="plain | corner | source | hole | fade | tiled | x-tiled | mask | dest",
             markup="{b}Bold{/b} {i}italic{/i} {u}underlined{/u} {c #C00000}red{/c} {f 1}font 1{/f} "
                    "{a home}a link{/a}{n}second line {s}selected{/s} image {i icon.png} inline"
                    "{p 6}a paragraph {x 20}after 20 pixels {r}{b}raw{/b}{/r}",
             button="Button", disabled="Disabled", states="Five", option1="Option A", option2="Option B",
             check="Check", effect="Effects",
             long="A long text that wraps onto a second line and then ends with an ellipsis because the label "
                  "is far too small to hold all of it in two lines of text, however wide the window may be, "
                  "since this sentence goes on and on well past the second line of the label.")
CJK = dict(face="WenQuanYi Micro Hei", title="控件一览", captions="普通 | 九宫格 | 源矩形 | 镂空 | 淡化 | 平铺 | 横向平铺 | 遮罩 | 目标",
           markup="{b}粗体{/b} {i}斜体{/i} {u}下划线{/u} {c #C00000}红色{/c} {f 1}字体 1{/f} "
                  "{a home}链接{/a}{n}第二行 {s}选中{/s} 图片 {i icon.png} 内嵌{p 6}新段落 {x 20}右移二十像素",
           button="按钮", disabled="禁用", states="五态", option1="选项甲", option2="选项乙", check="复选框",
           effect="特效文字",
           long="一段很长的文字，会换到第二行，然后因为标签太小放不下全部内容而以省略号结束，这里再多写一些字，"
                "再多写一些字，一直写到超过第二行为止，让省略号出现在第二行的末尾。")


def render_gallery(check, render, skin, out_dir):
    variants = [("latin", LATIN)]
    if os.path.exists(CJK_FONT):
        variants.append(("cjk", CJK))
    else:
        print("note: no CJK font (%s): the CJK gallery is left out" % CJK_FONT)
    for name, texts in variants:
        layout = "gallery-%s.xml" % name
        with open(os.path.join(skin, layout), "w", encoding="utf-8") as f:
            f.write(GALLERY.format(**texts))
        out = os.path.join(out_dir, "ui-gallery-%s.png" % name)
        rc, _, err = render.run(skin, layout, "--out", "Z:" + out)
        if check.expect(rc == 0 and os.path.exists(out), "gallery %s rendered to %s (exit %d %s)" %
                        (name, out, rc, err.strip())):
            w, h, rows = uicheck.read_png(out)
            check.expect((w, h) == (760, 560), "the %s gallery has the window's size" % name)
            ink = sum(1 for y in range(40, 60) for x in range(10, 400) if rows[y][x][:3] != (244, 244, 244))
            check.expect(ink > 500, "the %s gallery shows its images (%d pixels)" % (name, ink))


def main():
    wine_run, exe, folder, work, out_dir = sys.argv[1:6]
    os.makedirs(work, exist_ok=True)
    skin = os.path.join(work, "skin")
    if os.path.exists(skin):
        shutil.rmtree(skin)
    shutil.copytree(folder, skin)
    write_images(skin)
    check = uicheck.Checker()
    prefix = uicheck.Prefix(wine_run, work)
    with uicheck.Display() as display:
        render = uicheck.Renderer(wine_run, exe, display, prefix)
        check_states(check, render, skin, work)
        check_images(check, render, skin, work)
        check_shadow(check, render, skin, work)
        render_gallery(check, render, skin, out_dir)
    prefix.stop()
    check.finish()


if __name__ == "__main__":
    main()
