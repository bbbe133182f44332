#!/usr/bin/python3
"""The editor's room check on a small copy of the editor folder: the tree as it stands passes,
and each kind of fault is named: an include of a room the room may not use, a relative include,
and a library whose link line no longer matches the rooms it may include.

Usage: check_room_includes_test.py <source directory>
"""
import pathlib
import shutil
import subprocess
import sys
import tempfile
import unittest

SOURCE = pathlib.Path(sys.argv.pop(1) if len(sys.argv) > 1 else ".").resolve()
CHECK = SOURCE / "editor" / "check_room_includes.py"


def run_check(editor):
    result = subprocess.run([sys.executable, str(CHECK), str(editor)], capture_output=True,
                            text=True)
    return result.returncode, result.stderr


class RoomCheckTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.editor = pathlib.Path(self.dir.name) / "editor"
        self.editor.mkdir()
        shutil.copy(SOURCE / "editor" / "CMakeLists.txt", self.editor)
        for room in ("compile", "playback", "ui"):
            (self.editor / room).mkdir()

    def tearDown(self):
        self.dir.cleanup()

    def write(self, name, text):
        (self.editor / name).write_text(text, encoding="utf-8")

    def test_the_tree_as_it_stands_passes(self):
        self.assertEqual(run_check(SOURCE / "editor"), (0, ""))

    def test_a_room_below_is_allowed(self):
        self.write("ui/a.cpp", '#include "editor/compile/compile_controller.h"\n')
        self.write("compile/b.cpp", '#include "editor/document/score_document.h"\n')
        self.assertEqual(run_check(self.editor), (0, ""))

    def test_a_sibling_room_is_refused(self):
        self.write("compile/a.cpp", '#include "editor/playback/playback_controller.h"\n')
        self.assertEqual(run_check(self.editor),
                         (1, f"{self.editor}/compile/a.cpp: the compile room may not include "
                             "editor/playback/playback_controller.h (playback)\n"))

    def test_a_relative_include_is_refused(self):
        self.write("compile/a.cpp", '#include "../ui/main_window.h"\n')
        self.assertEqual(run_check(self.editor),
                         (1, f"{self.editor}/compile/a.cpp: include \"../ui/main_window.h\" by "
                             "its path from the source tree's top (editor/..., core/...)\n"))

    def test_a_link_line_that_no_longer_matches_is_named(self):
        cmake = (self.editor / "CMakeLists.txt").read_text(encoding="utf-8")
        linked = cmake.replace("add_editor_room(compile tarveditor_document",
                               "add_editor_room(compile tarveditor_playback tarveditor_document")
        self.assertNotEqual(linked, cmake)
        self.write("CMakeLists.txt", linked)
        self.assertEqual(run_check(self.editor),
                         (1, f"{self.editor}/CMakeLists.txt: the compile room may include "
                             "['document', 'services', 'sound'] but its library links "
                             "['document', 'playback', 'services', 'sound']\n"))


if __name__ == "__main__":
    unittest.main()
