"""skin-render --notify --input on the gallery of the slider, rich edit, date
picker and animated GIF: the whole UINotify stream compared for a slider drag
(values inside its range), the wheel and a click, typing in rich edits (one
"textchanged" per change, Return kept as "return" or taken as a new line), and
the date picker (Escape keeps the date, a click elsewhere takes the picked one,
Delete clears it, an empty text opens at today, the picker closed only after its
own focus change, hidden when moved out of its container); a rich edit without
msftedit.dll, an empty container that takes no text; then the GIF's frames, stepped by their timer messages,
captured and compared with the frames written into the GIF, and a one-frame GIF
that never starts its timer."""
import datetime
import os
import shutil
import subprocess
import sys

import uicheck

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import make_images  # noqa: E402  (the GIF writer of the image fixtures)

GIF_LEFT, GIF_RIGHT, STILL_LEFT, ROW = (20, 60, 120, 230)
# Delays of a minute: the real timer never ticks while a run lasts, the check's
# own timer steps do.
LONG_DELAY = 6000


def write_gifs(skin):
    with open(os.path.join(skin, "anim.gif"), "wb") as f:
        f.write(make_images.gif(make_images.gif_frames(make_images.ANIM), [LONG_DELAY] * 3))
    with open(os.path.join(skin, "still.gif"), "wb") as f:
        f.write(make_images.gif(make_images.gif_frames(make_images.ANIM[:1]), [LONG_DELAY]))


def dates():
    """Today and today a month on in the picker's month field (which wraps alone)."""
    today = datetime.date.today()
    month = today.month % 12 + 1
    return today.strftime("%Y-%m-%d"), "%04d-%02d-%02d" % (today.year, month, today.day)


def run_script(check, render, skin, folder, name, prepare=lambda text: text):
    subprocess.run(["xdotool", "mousemove", "1023", "767"], env=render.prefix.env(render.display), check=True)
    with open(os.path.join(folder, name + ".expected")) as f:
        expected = prepare(f.read())
    path = "Z:" + os.path.join(folder, name + ".in").replace("/", "\\")
    rc, out, err = render.run(skin, "widgets.xml", "--notify", "--input", path)
    ok = rc == 0 and out == expected
    check.expect(ok, "%s: the notification stream" % name)
    if not ok:
        print("exit %d, stderr: %s" % (rc, err.strip()))
        print("expected:\n" + expected + "got:\n" + out)
    return out


def check_gif(check, render, skin, work):
    shots = []
    steps = []
    for i in range(4):
        shots.append(os.path.join(work, "gif-%d.png" % i))
        steps += ["shot Z:" + shots[-1], "timer gif 100"]
    steps.append("timer still 100")
    script = os.path.join(work, "gif.in")
    with open(script, "w") as f:
        f.write("\n".join(steps) + "\n")
    rc, out, err = render.run(skin, "widgets.xml", "--input", "Z:" + script)
    if not check.expect(rc == 0, "GIF frames under timer steps (exit %d %s)" % (rc, err.strip())):
        return
    check.expect(out == "notimer\tstill\t100\n", "a one-frame GIF has no timer (got %r)" % out)
    for i, path in enumerate(shots):
        _, _, rows = uicheck.read_png(path)
        frame = make_images.ANIM[i % 3]
        got = (rows[ROW][GIF_LEFT][:3], rows[ROW][GIF_RIGHT][:3])
        check.expect(got == frame, "tick %d shows frame %d %s (got %s)" % (i, i % 3, frame, got))
        still = (rows[ROW][STILL_LEFT][:3], rows[ROW][STILL_LEFT + 40][:3])
        check.expect(still == make_images.ANIM[0], "the one-frame GIF stays on its frame (got %s)" % (still,))


def check_without_text_services(check, render, skin, work):
    """With msftedit.dll unloadable, a rich edit is an empty container: its
    background painted, typing into it changes and notifies nothing."""
    shot = os.path.join(work, "no-msftedit.png")
    script = os.path.join(work, "no-msftedit.in")
    with open(script, "w") as f:
        f.write("click 100 70\ntext ab\nkey Return\ngettext re\nshot Z:%s\n" % shot)
    env = dict(render.prefix.env(render.display), WINEDLLOVERRIDES="msftedit=d")
    subprocess.run(["xdotool", "mousemove", "1023", "767"], env=env, check=True)
    cmd = [render.wine_run, render.exe, "Z:" + skin.replace("/", "\\"), "widgets.xml", "--notify", "--input",
           "Z:" + script]
    r = subprocess.run(cmd, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)
    out = r.stdout.decode("utf-8", "replace").replace("\r", "")
    lines = [line for line in out.splitlines() if line.split("\t")[2:3] == ["re"] or line.startswith("text")]
    want = ["notify\tsetfocus\tre\t0\t0", "text\tre\t"]
    if not check.expect(r.returncode == 0 and lines == want, "without msftedit.dll the rich edit takes no text"):
        print("got:\n" + out)
        return
    _, _, rows = uicheck.read_png(shot)
    check.expect(rows[70][100][:3] == (0xF0, 0xF0, 0xD0) and rows[35][5][:3] == (0xF0, 0xF0, 0xD0),
                 "and paints its own background (got %s)" % (rows[70][100],))


def main():
    wine_run, exe, folder, work = sys.argv[1:5]
    os.makedirs(work, exist_ok=True)
    skin = os.path.join(work, "skin")
    if os.path.exists(skin):
        shutil.rmtree(skin)
    shutil.copytree(os.path.join(folder, "skin"), skin)
    write_gifs(skin)
    check = uicheck.Checker()
    prefix = uicheck.Prefix(wine_run, work)
    today, changed = dates()
    with uicheck.Display() as display:
        render = uicheck.Renderer(wine_run, exe, display, prefix)
        run_script(check, render, skin, folder, "slideredit")
        run_script(check, render, skin, folder, "datetime",
                   lambda text: text.replace("{today}", today).replace("{changed}", changed))
        check_gif(check, render, skin, work)
        check_without_text_services(check, render, skin, work)
    prefix.stop()
    check.finish()


if __name__ == "__main__":
    main()
