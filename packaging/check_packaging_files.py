#!/usr/bin/python3
"""Checks the files the installation puts on the desktop, with the tools the desktop uses.

Usage: check_packaging_files.py <packaging source dir> <scratch dir> <icon size>...

- desktop-file-validate accepts tarvik32.desktop without errors or warnings;
- update-mime-database accepts the score type's XML, and the database it builds maps *.fms to
  the type the desktop entry opens, as a subclass of text/plain;
- the PNG icon of each size exists and is that size; the SVG icon is an SVG with a square
  view box;
- groff reads every man page without a warning.

A missing tool is a failure. Exit status 0 when everything holds, 1 with one line per fault.
"""

import configparser
import os
import shutil
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET

TOOLS = {
    "desktop-file-validate": "desktop-file-utils",
    "update-mime-database": "shared-mime-info",
    "groff": "groff-base",
}
SCORE_GLOB = "*.fms"
faults = []


def fault(text):
    faults.append(text)


def run(args):
    return subprocess.run(args, capture_output=True, text=True)


def check_desktop_entry(source):
    path = os.path.join(source, "tarvik32.desktop")
    result = run(["desktop-file-validate", path])
    for line in (result.stdout + result.stderr).splitlines():
        if "error:" in line or "warning:" in line:
            fault(line)
    if result.returncode != 0:
        fault(f"desktop-file-validate failed on {path}")
    entry = configparser.ConfigParser(interpolation=None, strict=True)
    entry.optionxform = str
    entry.read(path, encoding="utf-8")
    group = entry["Desktop Entry"]
    return group.get("Icon", ""), [t for t in group.get("MimeType", "").split(";") if t]


def check_mime_type(source, scratch, desktop_types):
    packages = os.path.join(scratch, "mime", "packages")
    os.makedirs(packages)
    shutil.copy(os.path.join(source, "mime", "tarvik-score.xml"), packages)
    result = run(["update-mime-database", "-V", os.path.join(scratch, "mime")])
    for line in result.stderr.splitlines():
        if "warning" in line.lower() or "error" in line.lower():
            fault("update-mime-database: " + line)
    if result.returncode != 0:
        fault("update-mime-database failed")
        return

    def database(name):
        with open(os.path.join(scratch, "mime", name), encoding="utf-8") as f:
            return [line.rstrip("\n") for line in f if not line.startswith("#")]

    glob_types = [line.split(":")[1] for line in database("globs2")
                  if line.endswith(":" + SCORE_GLOB)]
    if len(glob_types) != 1:
        fault(f"{SCORE_GLOB} maps to {glob_types}, not to exactly one type")
        return
    score_type = glob_types[0]
    if desktop_types != [score_type]:
        fault(f"the desktop entry opens {desktop_types}, the score type is {score_type}")
    if f"{score_type} text/plain" not in database("subclasses"):
        fault(f"{score_type} is not a subclass of text/plain")


def png_size(path):
    with open(path, "rb") as f:
        header = f.read(24)
    if header[:8] != b"\x89PNG\r\n\x1a\n" or header[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", header[16:24])


def check_icons(source, icon_name, sizes):
    if icon_name != "tarvik32":
        fault(f"the desktop entry names icon '{icon_name}', the icon files are tarvik32")
    for size in sizes:
        path = os.path.join(source, "icons", f"tarvik32-{size}.png")
        if not os.path.isfile(path):
            fault(f"{path} is missing")
        elif png_size(path) != (size, size):
            fault(f"{path} is not a {size}x{size} PNG: {png_size(path)}")
    svg = ET.parse(os.path.join(source, "icons", "tarvik32.svg")).getroot()
    if svg.tag != "{http://www.w3.org/2000/svg}svg":
        fault(f"tarvik32.svg has root element {svg.tag}")
    box = svg.get("viewBox", "").split()
    if len(box) != 4 or box[2] != box[3]:
        fault(f"tarvik32.svg has view box '{svg.get('viewBox')}', not a square")


def check_man_pages(source):
    for name in sorted(os.listdir(os.path.join(source, "man"))):
        result = run(["groff", "-man", "-Tutf8", "-ww", "-z", os.path.join(source, "man", name)])
        for line in result.stderr.splitlines():
            fault(f"{name}: {line}")


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    source, scratch = sys.argv[1], sys.argv[2]
    sizes = [int(size) for size in sys.argv[3:]]
    missing = [f"{tool} (package {package})" for tool, package in TOOLS.items()
               if shutil.which(tool) is None]
    if missing:
        sys.exit("missing tools: " + ", ".join(missing))
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)
    icon_name, desktop_types = check_desktop_entry(source)
    check_mime_type(source, scratch, desktop_types)
    check_icons(source, icon_name, sizes)
    check_man_pages(source)
    for text in faults:
        print(text)
    sys.exit(1 if faults else 0)


main()
