#include <cstdio>

#include "console/console_program.h"

int main(int argc, char** argv) {
  const int status = runConsoleProgram(argc, argv, stdout);
  std::fflush(stdout);
  return status;  // the shell sees it modulo 256
}
