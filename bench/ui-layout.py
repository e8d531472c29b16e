#!/usr/bin/env python3
"""Benchmark (not a test): build and first paint of a layout of about 2,000
controls in nested layouts from a 7z skin, and its relayout after a resize, in
ms, beside the same number of plain child windows created and moved by hand in
the same run; and the same for a window of the installer's size
(testing/uiframework/data/MainWnd.xml, 640 x 420).

usage: python3 bench/ui-layout.py BUILD [--rounds N]"""
import argparse
import os
import shutil
import subprocess
import sys

top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(top, "testing", "uiframework", "checks"))
import uicheck  # noqa: E402


def big_layout():
    # 1 root + 20 rows + 200 columns + 1800 cells = 2021 controls, four levels deep.
    out = ['<?xml version="1.0" encoding="utf-8"?>', '<Window size="1000,700">',
           '<VerticalLayout name="root" bkcolor="#FF203040" inset="4,4,4,4" childpadding="2">']
    for r in range(20):
        out.append('<HorizontalLayout childpadding="2">')
        for c in range(10):
            out.append('<VerticalLayout bordersize="1" bordercolor="#FF808080">')
            for k in range(9):
                colour = "#FF%02X%02X%02X" % ((r * 12) % 256, (c * 25) % 256, (k * 28) % 256)
                out.append('<Control name="c%d_%d_%d" bkcolor="%s" />' % (r, c, k, colour))
            out.append('</VerticalLayout>')
        out.append('</HorizontalLayout>')
    out += ['</VerticalLayout>', '</Window>']
    return "\n".join(out)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--rounds", type=int, default=5)
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    exe = os.path.join(build, "bin", "uiframework_layout_bench.exe")
    if not os.path.exists(exe):
        subprocess.run(["cmake", "--build", build, "--target", "uiframework_layout_bench"], check=True)
    work = os.path.join(build, "bench", "ui-layout")
    skin = os.path.join(work, "skin")
    shutil.rmtree(skin, ignore_errors=True)
    os.makedirs(skin)
    with open(os.path.join(skin, "big.xml"), "w") as f:
        f.write(big_layout())
    shutil.copy(os.path.join(top, "testing", "uiframework", "data", "MainWnd.xml"), os.path.join(skin, "MainWnd.xml"))
    archive = uicheck.make_skins(skin, work)["7z"]
    wine_run = os.path.join(build, "wine-run")
    prefix = uicheck.Prefix(wine_run, work)
    with uicheck.Display() as display:
        env = prefix.env(display)
        for layout, w, h in (("big.xml", 1000, 700), ("big.xml", 640, 420), ("MainWnd.xml", 640, 420)):
            r = subprocess.run([wine_run, exe, "Z:" + archive.replace("/", "\\"), layout, str(w), str(h),
                                str(args.rounds)], env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=False)
            line = r.stdout.decode().strip()
            if r.returncode != 0:
                print("%s: failed (%d) %s" % (layout, r.returncode, r.stderr.decode().strip()))
                continue
            figures = dict(kv.split("=") for kv in line.split())
            print("%-12s %s" % (layout, line))
            show, peer = float(figures["show_ms"]), float(figures["peer_show_ms"])
            rel, peer_rel = float(figures["relayout_ms"]), float(figures["peer_relayout_ms"])
            print("%-12s show %.1f ms (peer %.1f, ratio %.2f), relayout %.1f ms (peer %.1f, ratio %.2f)"
                  % ("", show, peer, show / max(peer, 0.01), rel, peer_rel, rel / max(peer_rel, 0.01)))
    prefix.stop()
    print("Best of %d rounds each; first_show includes opening and decoding the 7z skin once." % args.rounds)


if __name__ == "__main__":
    main()
