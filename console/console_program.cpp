#include "console/console_program.h"

#include <memory>

#include "console/console_host.h"
#include "core/compile_driver.h"
#include "core/output_file.h"

namespace {

constexpr size_t SOURCE_NAME_LIMIT = 500;

constexpr const char BANNER[] =
    "Score compiler for the console (32bitDOS) v1.01.00\n"
    "Compiles a music-macro score into a Standard MIDI File.\n"
    "\n";

constexpr const char USAGE[] =
    "tarvk32c <filename> [-f]\n"
    "-f  korveldat output(.fmd)\n"
    "{default SMF data output(.mid)}\n"
    "\n";

void print(std::FILE* console, const char* text) {
  std::fputs(text, console);
}

// "-x..." is an option. "/x" is one too, but only as two characters: longer arguments that
// begin with '/' are absolute paths.
bool isOption(const char* argument) {
  if (argument[0] == '-') return true;
  return argument[0] == '/' && argument[1] != '\0' && argument[2] == '\0';
}

}  // namespace

std::string outputNameFor(const std::string& sourceName, bool compiledData) {
  const size_t dot = sourceName.rfind('.');
  std::string name = dot == std::string::npos ? sourceName : sourceName.substr(0, dot);
  return name + (compiledData ? ".fmd" : ".mid");
}

ConsoleResult compileConsole(int argc, const char* const* argv, std::FILE* console) {
  ConsoleResult result;
  auto finish = [&result](int status) {
    result.exitStatus = status;
    return result;
  };
  bool compiledData = false;
  const char* sourceName = nullptr;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (isOption(argument)) {
      if (argument[1] != 'f' && argument[1] != 'F') {
        print(console, "parameter error!\n");
        return finish(1);
      }
      compiledData = true;
    } else {
      sourceName = argument;
    }
  }

  // The session is large (line buffer, read-ahead): keep it off the stack.
  auto session = std::make_unique<CompileSession>();
  resetSession(*session);

  print(console, BANNER);
  if (argc <= 1) {
    print(console, USAGE);
    return finish(0);
  }
  if (argc > 3) {
    print(console, "parameter over!\n");
    return finish(1);
  }
  if (sourceName == nullptr) {  // only options: nothing to compile
    print(console, USAGE);
    return finish(1);
  }
  const std::string source = sourceName;
  if (source.size() >= SOURCE_NAME_LIMIT) {
    print(console, "source name too long!\n");
    return finish(1);
  }
  const std::string output = outputNameFor(source, compiledData);
  result.output = output;
  std::fprintf(console, "%s%s\n", compiledData ? "korvel : " : "midiname : ", output.c_str());
  // A score named song.mid (or song.fmd with -f), or one the output name links to, would be
  // replaced by its own output.
  if (outputWouldOverwrite(output, source)) {
    print(console, "output would replace the source file!\n");
    return finish(1);
  }

  ConsoleHost host(source, output, console);
  prepareConsoleCompilation(*session, host, compiledData);
  const int32_t status = compileSource(*session);
  std::fflush(console);
  result.diagnostics = host.diagnostics();
  result.outputProblem = host.outputProblem();
  return finish(status);
}

int runConsoleProgram(int argc, const char* const* argv, std::FILE* console) {
  return compileConsole(argc, argv, console).exitStatus;
}
