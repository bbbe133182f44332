#include <cstdio>

#include "console/console_program.h"
#include "console/output_signals.h"

int main(int argc, char** argv) {
  installSignalHandling();
  const int status = runConsoleProgram(argc, argv, stdout);
  std::fflush(stdout);
  return status;  // the shell sees it modulo 256
}
