// The tarvk32c program: command line, output naming, one compilation, exit status.
#pragma once

#include <cstdio>
#include <string>

// Runs the program with its arguments (argv[0] is the program name); the exit status.
int runConsoleProgram(int argc, const char* const* argv, std::FILE* console);

// The source name with its last '.' and everything behind it replaced by the extension, or
// the extension appended when there is no '.'.
std::string outputNameFor(const std::string& sourceName, bool compiledData);
