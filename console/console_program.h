// The tarvk32c program: command line, output naming, one compilation, exit status.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "core/diagnostic.h"

// What one run of the program did, besides what it printed.
struct ConsoleResult {
  int exitStatus = 0;
  std::string output;  // the output file's name; empty when the arguments named no score
  // Every diagnostic the compilation gave, in order; none when it did not run.
  std::vector<Diagnostic> diagnostics;
  // Why the output could not be opened or written (the words printed after its name, or the
  // system's); empty when nothing went wrong with it.
  std::string outputProblem;
};

// Runs the program with its arguments (argv[0] is the program name), printing to `console`.
ConsoleResult compileConsole(int argc, const char* const* argv, std::FILE* console);

// The same, for the exit status alone.
int runConsoleProgram(int argc, const char* const* argv, std::FILE* console);

// The source name with its last '.' and everything behind it replaced by the extension, or
// the extension appended when there is no '.'.
std::string outputNameFor(const std::string& sourceName, bool compiledData);
