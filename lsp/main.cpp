// tarvik32-lsp: the score language's server for text editors, over standard input and output.
#include <unistd.h>

#include "console/output_signals.h"
#include "lsp/server_loop.h"

int main() {
  // As in tarvk32c: the MIDI file command's temporary output is removed on a terminating
  // signal, and a closed output is a write error rather than the end of the program.
  installSignalHandling();
  return runLanguageServer(STDIN_FILENO, STDOUT_FILENO);
}
