#include <cstdio>

#include "console/output_signals.h"
#include "import/import_program.h"

int main(int argc, char** argv) {
  installSignalHandling();
  return runImportProgram(argc, argv, stdout, stderr);
}
