// The console program's host services: standard output, the source file, the output file.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "core/compile_host.h"
#include "core/output_file.h"

class ConsoleHost : public ConsoleCompileHost {
 public:
  ConsoleHost(std::string sourceName, std::string outputName, std::FILE* console);
  ~ConsoleHost() override;

  void messageLine(std::string_view text) override;
  void alert(std::string_view text) override;
  bool openSource() override;
  void closeSource() override;
  int32_t readSource(uint8_t* buffer, int32_t capacity) override;
  OutputStream* openOutput() override;
  int32_t closeOutput(bool keep) override;
  void diagnosed(const Diagnostic& diagnostic) override;

  // What the compilation reported, in order.
  const std::vector<Diagnostic>& diagnostics() const { return diagnostics_; }
  // Why the output could not be opened or written, in the words printed for an open refusal
  // ("is a folder") or the system's; empty when nothing went wrong with it.
  const std::string& outputProblem() const { return outputProblem_; }

 private:
  std::string sourceName_;
  std::string outputName_;
  std::FILE* console_;
  int sourceFd_ = -1;
  std::unique_ptr<OutputFile> output_;
  std::vector<Diagnostic> diagnostics_;
  std::string outputProblem_;
};
