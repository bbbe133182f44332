#include <csignal>
#include <cstdio>

#include "console/console_program.h"

int main(int argc, char** argv) {
  // A closed standard output (`tarvk32c song.fms | head -1`) must not stop the compilation
  // half-way: the output file is still written, and nothing temporary is left behind.
  std::signal(SIGPIPE, SIG_IGN);
  const int status = runConsoleProgram(argc, argv, stdout);
  std::fflush(stdout);
  return status;  // the shell sees it modulo 256
}
