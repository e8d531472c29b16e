#!/usr/bin/env python3
"""Builds the installer's skin archive:

    build_skin.py --7zz PATH [--icon OUT.ico] SOURCE_DIR STAGE_DIR OUT.7z

Draws the images (draw_images.py) into STAGE_DIR, copies the layouts and
"language.json" beside them, checks that each layout is well-formed XML and that the
language file is an array of objects with a unique integer "id" and the three texts,
then packs STAGE_DIR into OUT.7z with "/"-separated names. With --icon it also
writes the program's icon."""
import argparse
import json
import os
import shutil
import subprocess
import sys
import xml.etree.ElementTree as ET

import draw_images

LANGUAGES = ("en-US", "zh-CN", "zh-TW")


def check_language(path):
    with open(path, encoding="utf-8") as f:
        table = json.load(f)
    if not isinstance(table, list):
        sys.exit("%s: not an array" % path)
    seen = set()
    for item in table:
        if not isinstance(item, dict) or not isinstance(item.get("id"), int):
            sys.exit("%s: an item without an integer id: %r" % (path, item))
        if item["id"] in seen:
            sys.exit("%s: id %d twice" % (path, item["id"]))
        seen.add(item["id"])
        for code in LANGUAGES:
            if not isinstance(item.get(code), str):
                sys.exit("%s: id %d has no %s text" % (path, item["id"], code))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--7zz", dest="sevenzip", required=True)
    ap.add_argument("--icon")
    ap.add_argument("source")
    ap.add_argument("stage")
    ap.add_argument("out")
    a = ap.parse_args()

    if os.path.isdir(a.stage):
        shutil.rmtree(a.stage)
    os.makedirs(a.stage)
    files = draw_images.write_all(a.stage)
    for name in sorted(os.listdir(a.source)):
        if name.endswith(".xml") or name == "language.json":
            src = os.path.join(a.source, name)
            if name.endswith(".xml"):
                ET.parse(src)
            else:
                check_language(src)
            shutil.copyfile(src, os.path.join(a.stage, name))
            files.append(name)

    tmp = a.out + ".tmp"
    if os.path.exists(tmp):
        os.remove(tmp)
    subprocess.run([a.sevenzip, "a", "-t7z", "-mx=9", "-bd", "-y", tmp, "--"] + sorted(files), cwd=a.stage,
                   check=True, stdout=subprocess.DEVNULL)
    os.replace(tmp, a.out)
    if a.icon:
        with open(a.icon + ".tmp", "wb") as f:
            f.write(draw_images.icon_file())
        os.replace(a.icon + ".tmp", a.icon)


if __name__ == "__main__":
    main()
