"""skin-render with ActiveX controls. axprobe.dll, a COM control of our own, is
registered in the check's prefix and hosted four times: windowless by its class id,
windowed by its ProgID, windowless again from the DLL named by "modulename" (a class
the registry does not know), and that class once more without the module, which
creates nothing. The probe logs what the host does to it; the log is compared whole:
creation order, client site before or after InitNew as the object asks, in-place
activation windowless in the window or windowed in a "UIActiveX" child window, the
window context, placement and drawing, the window messages forwarded to the
windowless object (keys only once it has the focus, mouse only when it is hit and
mouse-enabled), and the release when the control gets a new object, after which the
released site's accelerator table is gone. Pictures show each object's colour where
its control stands, a click's new colour, and a hidden windowed control's window
gone while the next object moves (and is drawn) into its place.

Then the system's web browser object: hosted, it navigates to its home page on a
loopback HTTP server only with "autonavi", and its navigation events reach the
control (under Wine the page is fetched but ends in a navigation error: no HTML
engine)."""
import http.server
import os
import shutil
import subprocess
import sys
import threading

import uicheck

WINDOWLESS = "{6A1D3B10-5C2E-4F7A-9B01-2D5E8C0F4A11}"
WINDOWED = "{6A1D3B10-5C2E-4F7A-9B01-2D5E8C0F4A12}"
MODULE_ONLY = "{6A1D3B10-5C2E-4F7A-9B01-2D5E8C0F4A13}"
PROGID = "QuorvTest.AxProbeWindowed"
MAGENTA = (200, 40, 160, 255)
GREEN = (40, 160, 80, 255)
WHITE = (255, 255, 255, 255)

AX_LAYOUT = """<?xml version="1.0" encoding="utf-8"?>
<Window size="400,200">
  <HorizontalLayout name="root" bkcolor="#FFFFFFFF" inset="10,10,10,10" childpadding="10">
    <ActiveX name="axl" width="80" height="60" clsid="{windowless}" />
    <ActiveX name="axw" width="80" height="60" clsid="{progid}" />
    <ActiveX name="axm" width="80" height="60" clsid="{module_only}" modulename="{dll}" />
    <ActiveX name="axn" width="80" height="60" clsid="{module_only}" />
  </HorizontalLayout>
</Window>
"""

def created(probe, kind, rect, tables_gone=0, windowed=False):
    """What a probe logs from its creation to its site, in the host's order: the
    client site before InitNew for the windowless probes, after it for the windowed."""
    p = "p%d " % probe
    left, top, right, bottom = rect
    lines = [p + "create %s released-sites-tables-alive=0/%d" % (kind, tables_gone)]
    lines += [p + "initnew", p + "setclientsite"] if windowed else [p + "setclientsite", p + "initnew"]
    lines += [p + "sethostnames UIActiveX",
              p + "doverb -5 parent=SkinRenderWnd rect=%d,%d,%d,%d" % rect]
    if windowed:
        inner = "0,0,%d,%d" % (right - left, bottom - top)
        lines += [p + "setobjectrects " + inner,
                  p + "activate windowed hr=00000000 host=UIActiveX hostrect=%d,%d,%d,%d" % rect,
                  p + "windowcontext hr=00000000 pos=%s clip=%s frame=SkinRenderWnd frameinfo=SkinRenderWnd "
                      "accel=1/1" % (inner, inner),
                  p + "window %d,%d,%d,%d" % rect]
    else:
        place = "%d,%d,%d,%d" % rect
        lines += [p + "setobjectrects " + place,
                  p + "activate windowless hr=00000000 host=SkinRenderWnd",
                  p + "windowcontext hr=00000000 pos=%s clip=%s frame=SkinRenderWnd frameinfo=SkinRenderWnd "
                      "accel=1/1" % (place, place)]
    return lines + [p + "setsite"]


def released(probe):
    p = "p%d " % probe
    return [p + "setsite null", p + "close", p + "setclientsite null", p + "destroyed"]


def log_text(lines):
    return "".join(line + "\n" for line in lines)


# Controls at x 10-90 (axl), 100-180 (axw), 190-270 (axm), 280-360 (axn), y 10-70;
# 80 by 60 pixels are 2117 by 1588 HIMETRIC at 96 dpi.
EXTENT = "setextent 2117,1588"
WANT_LOG = log_text(
    created(1, "windowless", (10, 10, 90, 70)) + ["p1 " + EXTENT] +
    created(2, "windowed", (100, 10, 180, 70), windowed=True) + ["p2 " + EXTENT] +
    created(3, "module", (190, 10, 270, 70)) + ["p3 " + EXTENT] +
    ["p1 draw 10,10,90,70", "p3 draw 190,10,270,70",
     "p1 message lbuttondown 50 40", "p1 message lbuttonup 50 40 captured", "p1 message keydown 66",
     "p2 wndmsg lbuttondown 40 30",
     "p3 setobjectrects 100,10,180,70", "p3 draw 100,10,180,70"] +
    released(1) + created(4, "windowless", (10, 10, 90, 70), tables_gone=1))


def win_path(path):
    return "Z:" + path.replace("/", "\\")


def register_probe(wine_run, env, dll):
    """The probe's two registered classes and its ProgID, as regsvr32 would write them."""
    for clsid in (WINDOWLESS, WINDOWED):
        key = "HKCR\\CLSID\\%s\\InprocServer32" % clsid
        subprocess.run([wine_run, "reg", "add", key, "/ve", "/d", win_path(dll), "/f"], env=env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run([wine_run, "reg", "add", key, "/v", "ThreadingModel", "/d", "Apartment", "/f"], env=env,
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run([wine_run, "reg", "add", "HKCR\\%s\\CLSID" % PROGID, "/ve", "/d", WINDOWED, "/f"], env=env,
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def check_probe(check, render, wine_run, skin, work, dll):
    env = render.prefix.env(render.display)
    register_probe(wine_run, env, dll)
    with open(os.path.join(skin, "activex.xml"), "w") as f:
        f.write(AX_LAYOUT.format(windowless=WINDOWLESS, progid=PROGID, module_only=MODULE_ONLY, dll=win_path(dll)))
    log = os.path.join(work, "axprobe.log")
    if os.path.exists(log):
        os.remove(log)
    shots = {name: os.path.join(work, "activex-%s.png" % name) for name in ("clicked", "hidden")}
    steps = ["key a",                      # nothing has the focus yet: not forwarded
             "attr axm mouse false", "click 230 40",   # not mouse-enabled: not forwarded
             "click 50 40",                # the windowless probe takes the focus
             "key b",                      # now forwarded
             "click 140 40",               # straight to the windowed probe's own window
             "click 320 40",               # nothing hosted there
             "shot " + win_path(shots["clicked"]),
             "attr axw visible false", "shot " + win_path(shots["hidden"]),
             # a new object for the first control: the old one is released first
             "attr axl clsid " + WINDOWLESS, "attr axl delaycreate false"]
    script = os.path.join(work, "activex.in")
    with open(script, "w") as f:
        f.write("\n".join(steps) + "\n")
    os.environ["AXPROBE_LOG"] = win_path(log)
    rc, out, err = render.run(skin, "activex.xml", "--notify", "--input", win_path(script))
    if not check.expect(rc == 0, "ActiveX controls under scripted input (exit %d %s)" % (rc, err.strip())):
        return
    got = open(log).read() if os.path.exists(log) else ""
    if not check.expect(got == WANT_LOG, "the probe's log of what its host did, whole"):
        print("got:\n" + got)
    notes = [line for line in out.splitlines() if line.split("\t")[1:2] == ["showactivex"]]
    check.expect(notes == ["notify\tshowactivex\t%s\t0\t0" % n for n in ("axl", "axw", "axm", "axl")],
                 "one \"showactivex\" per object created (got %s)" % notes)

    def pixels(name, expectations):
        uicheck.expect_pixels(check, shots[name], name, expectations)

    pixels("clicked", [((50, 40), GREEN, "the windowless probe, clicked, drawn by its host"),
                       ((10, 10), GREEN, "its first pixel at the control's corner"),
                       ((9, 40), WHITE, "nothing left of the control"),
                       ((140, 40), GREEN, "the windowed probe's own window, clicked"),
                       ((230, 40), MAGENTA, "the module's probe, not clicked"),
                       ((320, 40), WHITE, "no object where the class could not be made")])
    # The layout closes the gap: the module's probe moves into the hidden one's place.
    pixels("hidden", [((140, 40), MAGENTA, "the module's probe where the hidden windowed one was, no window over it"),
                      ((230, 40), WHITE, "the empty control after it"),
                      ((50, 40), GREEN, "the first stays")])


# A web browser control hosts whatever its "clsid" names; given a new object it
# releases the old one through the ActiveX host's release.
RECREATE_LAYOUT = """<?xml version="1.0" encoding="utf-8"?>
<Window size="200,100">
  <VerticalLayout name="root" bkcolor="#FFFFFFFF" inset="10,10,10,10">
    <WebBrowser name="wb" width="80" height="60" clsid="{windowless}" />
  </VerticalLayout>
</Window>
"""

WANT_RECREATE_LOG = log_text(
    created(1, "windowless", (10, 10, 90, 70)) + ["p1 " + EXTENT, "p1 draw 10,10,90,70"] + released(1) +
    created(2, "windowless", (10, 10, 90, 70), tables_gone=1))


def check_browser_recreate(check, render, skin, work):
    with open(os.path.join(skin, "recreate.xml"), "w") as f:
        f.write(RECREATE_LAYOUT.format(windowless=WINDOWLESS))
    log = os.path.join(work, "recreate.log")
    if os.path.exists(log):
        os.remove(log)
    script = os.path.join(work, "recreate.in")
    with open(script, "w") as f:
        f.write("attr wb clsid %s\nattr wb delaycreate false\n" % WINDOWLESS)
    os.environ["AXPROBE_LOG"] = win_path(log)
    rc, _, err = render.run(skin, "recreate.xml", "--input", win_path(script))
    if not check.expect(rc == 0, "a web browser control given a new object (exit %d %s)" % (rc, err.strip())):
        return
    got = open(log).read() if os.path.exists(log) else ""
    if not check.expect(got == WANT_RECREATE_LOG, "the web browser control releases its old object first"):
        print("got:\n" + got)


BROWSER_LAYOUT = """<?xml version="1.0" encoding="utf-8"?>
<Window size="400,300">
  <VerticalLayout name="root" bkcolor="#FFFFFFFF" inset="10,10,10,10" childpadding="10">
    <WebBrowser name="web" height="200" homepage="{base}/page.html" autonavi="true" />
    <WebBrowser name="idle" height="50" homepage="{base}/idle.html" />
  </VerticalLayout>
</Window>
"""


class PageServer(http.server.ThreadingHTTPServer):
    daemon_threads = True


def check_browser(check, render, skin, work):
    requests = []
    done = threading.Event()

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            requests.append(self.path)
            body = b"<html><body><p>page</p></body></html>"
            self.send_response(200)
            self.send_header("Content-Type", "text/html")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            done.set()

        def log_message(self, *args):
            pass

    server = PageServer(("127.0.0.1", 0), Handler)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    base = "http://127.0.0.1:%d" % server.server_address[1]
    try:
        with open(os.path.join(skin, "browser.xml"), "w") as f:
            f.write(BROWSER_LAYOUT.format(base=base))
        # The navigation ends on its own; "wait" gives the event loop the time it takes.
        script = os.path.join(work, "browser.in")
        with open(script, "w") as f:
            f.write("wait 1500\ntree\n")
        rc, out, err = render.run(skin, "browser.xml", "--notify", "--browser", "--input", win_path(script))
    finally:
        server.shutdown()
        server.server_close()
    if not check.expect(rc == 0, "web browsers hosted (exit %d %s)" % (rc, err.strip())):
        return
    lines = out.splitlines()
    made = [l for l in lines if l.split("\t")[1:2] == ["showactivex"]]
    check.expect(made == ["notify\tshowactivex\tweb\t0\t0", "notify\tshowactivex\tidle\t0\t0"],
                 "both browser objects created and activated (got %s)" % made)
    tree = [l.split("\t")[1:3] for l in lines if l[:1].isdigit()]
    check.expect(["WebBrowser", "web"] in tree and ["WebBrowser", "idle"] in tree,
                 "the layout tag WebBrowser makes the control (got %s)" % tree)
    check.expect(requests == ["/page.html"],
                 "only the browser with \"autonavi\" fetched its home page over loopback (got %s)" % requests)
    events = [l.split("\t") for l in lines if l.startswith("browser\t")]
    kinds = [(e[1], e[2], e[3]) for e in events]
    check.expect(("navigateerror", "web", base + "/page.html") in kinds,
                 "the navigation's end reached the control as a NavigateError event (got %s)" % events)
    check.expect(all(e[2] == "web" for e in events), "no events from the browser that never navigated")


def main():
    wine_run, exe, dll, work = sys.argv[1:5]
    os.makedirs(work, exist_ok=True)
    skin = os.path.join(work, "skin")
    if os.path.exists(skin):
        shutil.rmtree(skin)
    os.makedirs(skin)
    check = uicheck.Checker()
    prefix = uicheck.Prefix(wine_run, work)
    with uicheck.Display() as display:
        render = uicheck.Renderer(wine_run, exe, display, prefix)
        check_probe(check, render, wine_run, skin, work, dll)
        check_browser_recreate(check, render, skin, work)
        check_browser(check, render, skin, work)
    prefix.stop()
    check.finish()


if __name__ == "__main__":
    main()
