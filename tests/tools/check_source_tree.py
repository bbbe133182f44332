#!/usr/bin/python3
"""Checks the source tree as a reader meets it: every C++ file formatted as .clang-format says,
and the README's Layout section true to the tree.

Usage: check_source_tree.py <source directory>

  - clang-format (--dry-run --Werror) accepts every tracked *.cpp and *.h file, tests included;
  - every path the Layout section names in backticks (`core/compile_host.h`, `tests/support`)
    exists;
  - every top-level folder of the tree, and every folder of editor/ (one a room), is named in
    the Layout section, so a folder added without a word is noticed.

Exit status 0 when everything holds, 1 with one line per fault otherwise.
"""

import os
import re
import shutil
import subprocess
import sys

# Top-level folders that hold no sources of their own or are named elsewhere.
NOT_IN_LAYOUT = {".ci", ".git"}


def tracked_files(root):
    """The files git tracks, or every file outside build folders when there is no git."""
    try:
        out = subprocess.run(["git", "-C", root, "ls-files", "-z"], check=True,
                             capture_output=True).stdout
        return [name for name in out.decode().split("\0") if name]
    except (OSError, subprocess.CalledProcessError):
        names = []
        for folder, dirs, files in os.walk(root):
            dirs[:] = [d for d in dirs if not d.startswith("build") and d != ".git"]
            names += [os.path.relpath(os.path.join(folder, f), root) for f in files]
        return names


def formatting_faults(root, files):
    tool = shutil.which("clang-format")
    if tool is None:
        return ["clang-format is missing: run scripts/install-deps test"]
    sources = [f for f in files if f.endswith((".cpp", ".h"))]
    faults = []
    for start in range(0, len(sources), 100):
        batch = sources[start:start + 100]
        result = subprocess.run([tool, "--dry-run", "--Werror"] + batch, cwd=root,
                                capture_output=True, text=True)
        for line in result.stderr.splitlines():
            match = re.match(r"^(\S+\.(?:cpp|h)):(\d+):\d+: error", line)
            if match:
                faults.append(f"{match.group(1)}:{match.group(2)}: not formatted "
                              "(clang-format -i fixes it)")
    # One line a file is enough to find it.
    seen, unique = set(), []
    for fault in faults:
        name = fault.split(":")[0]
        if name not in seen:
            seen.add(name)
            unique.append(fault)
    return unique


def layout_section(readme):
    start = readme.find("\n## Layout")
    if start < 0:
        return None
    end = readme.find("\n## ", start + 1)
    return readme[start:end if end >= 0 else len(readme)]


def layout_faults(root, files):
    with open(os.path.join(root, "README.md"), encoding="utf-8") as f:
        section = layout_section(f.read())
    if section is None:
        return ["README.md has no Layout section"]
    faults = []
    top = {f.split("/")[0] for f in files if "/" in f}
    for token in sorted(set(re.findall(r"`([^`\s]+)`", section))):
        if "/" not in token or token.startswith(("$", "~", "-")):
            continue
        path = token.rstrip("/")
        # A folder named inside another's description (`editor/`'s `compile/`) stands below it.
        places = [root] + [os.path.join(root, t) for t in sorted(top)]
        if not any(os.path.exists(os.path.join(place, path)) for place in places):
            faults.append(f"README.md Layout names `{token}`, which is not in the tree")
    rooms = {f.split("/")[1] for f in files if f.startswith("editor/") and f.count("/") >= 2}
    for folder in sorted(top - NOT_IN_LAYOUT):
        if f"`{folder}/" not in section:
            faults.append(f"README.md Layout does not name the folder `{folder}/`")
    for room in sorted(rooms):
        if f"`{room}/`" not in section and f"`editor/{room}/" not in section:
            faults.append(f"README.md Layout does not name the editor's folder `{room}/`")
    return faults


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    root = sys.argv[1]
    files = tracked_files(root)
    faults = formatting_faults(root, files) + layout_faults(root, files)
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
