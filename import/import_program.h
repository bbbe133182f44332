// The tarvk32-import program: `tarvk32-import song.mid [-o song.fms] [--encoding cp932|utf-8]`
// reads a Standard MIDI File and writes the score to standard output or, with -o, to the file,
// which appears whole or not at all. What the score cannot keep goes to standard error; the
// program's texts are English.
#pragma once

#include <cstdio>

// Runs the program with its arguments (argv[0] is the program name): 0 when the score was
// written, 1 when the arguments, the file or the output failed.
int runImportProgram(int argc, const char* const* argv, std::FILE* out, std::FILE* err);
