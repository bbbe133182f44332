#!/usr/bin/python3
"""Fails when a file of an editor room includes a header of a room it may not use.

Every room's library links only the rooms below it, but all of them see the whole source tree,
so a header of a higher room would still compile in a lower one. This check, run by the build,
closes that gap. It also fails when the rooms a room may include are not the rooms its library
links (directly or through them) in EDITOR_DIR/CMakeLists.txt, so the two cannot drift apart.
Usage: check_room_includes.py EDITOR_DIR [STAMP_FILE]
"""
import pathlib
import re
import sys

# The rooms each room may include, besides its own.
MAY_USE = {
    "sound": set(),
    "document": set(),
    "playback": {"document", "sound", "services"},
    "settings": {"document", "sound", "services"},
    "compile": {"document", "sound", "services"},
    "view": {"document", "sound", "services"},
    "roll": {"document", "sound"},
    "ui": {"view", "roll", "compile", "playback", "settings", "document", "sound", "services"},
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"editor/(?:([a-z_]+)/)?([^"]+)"', re.MULTILINE)
# Every quoted include names its header from the source tree's top ("editor/view/...",
# "core/..."), so that a relative one ("../ui/main_window.h") cannot slip past the rooms.
QUOTED = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)
TOP_FOLDERS = ("editor/", "core/", "import/")
# The build's link lines of the rooms' libraries: add_editor_room(NAME LIBRARY...) and
# target_link_libraries(tarveditor_NAME ...).
ROOM_LIBRARY = re.compile(r"add_editor_room\((\w+)([^)]*)\)")
ROOM_LINKS = re.compile(r"target_link_libraries\(tarveditor_(\w+)\s([^)]*)\)")
ROOM_NAME = re.compile(r"\btarveditor_(\w+)")


def linked_rooms(cmake_text):
    """Each room with the rooms its library links, directly or through them."""
    direct = {}
    for pattern in (ROOM_LIBRARY, ROOM_LINKS):
        for match in pattern.finditer(cmake_text):
            direct.setdefault(match.group(1), set()).update(ROOM_NAME.findall(match.group(2)))
    closed = {}
    for room in direct:
        seen, todo = set(), list(direct[room])
        while todo:
            used = todo.pop()
            if used not in seen:
                seen.add(used)
                todo.extend(direct.get(used, ()))
        closed[room] = seen
    return closed


def link_faults(editor):
    linked = linked_rooms((editor / "CMakeLists.txt").read_text(encoding="utf-8"))
    faults = []
    for room, allowed in MAY_USE.items():
        links = linked.get(room, set())
        if links != allowed:
            faults.append(f"{editor / 'CMakeLists.txt'}: the {room} room may include "
                          f"{sorted(allowed)} but its library links {sorted(links)}")
    return faults


def room_of(folder, name):
    if folder is None:
        return "services" if name == "editor_services.h" else "program"
    return folder


def main():
    editor = pathlib.Path(sys.argv[1])
    faults = [f"{folder}: a folder of the editor that is no known room"
              for folder in sorted(editor.iterdir())
              if folder.is_dir() and folder.name not in MAY_USE and any(folder.glob("*.[ch]*"))]
    faults += link_faults(editor)
    for room, allowed in MAY_USE.items():
        for path in sorted((editor / room).glob("*.[ch]*")):
            text = path.read_text(encoding="utf-8")
            for match in QUOTED.finditer(text):
                name = match.group(1)
                if not name.startswith(TOP_FOLDERS) or ".." in name.split("/"):
                    faults.append(f"{path}: include \"{name}\" by its path from the source "
                                  "tree's top (editor/..., core/...)")
            for match in INCLUDE.finditer(text):
                used = room_of(match.group(1), match.group(2))
                if used != room and used not in allowed:
                    faults.append(f"{path}: the {room} room may not include "
                                  f"editor/{match.group(1) + '/' if match.group(1) else ''}"
                                  f"{match.group(2)} ({used})")
    for fault in faults:
        print(fault, file=sys.stderr)
    if faults:
        return 1
    if len(sys.argv) > 2:
        pathlib.Path(sys.argv[2]).write_text("ok\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
