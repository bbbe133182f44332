#include "editor/playback/fluid_log.h"

#include <fluidsynth.h>

#include <mutex>
#include <string>

namespace {

std::mutex& fluidErrorMutex() {
  static std::mutex mutex;
  return mutex;
}

struct KeptErrors {
  std::string first;
  std::string last;
};

KeptErrors& keptErrors() {
  static KeptErrors kept;
  return kept;
}

void keepFluidError(int, const char* message, void*) {
  std::lock_guard lock(fluidErrorMutex());
  KeptErrors& kept = keptErrors();
  kept.last = message ? message : "";
  if (kept.first.empty()) kept.first = kept.last;
}

QString takeKept(std::string KeptErrors::*which, const char* fallback) {
  std::lock_guard lock(fluidErrorMutex());
  KeptErrors& kept = keptErrors();
  const std::string& text = kept.*which;
  QString taken = text.empty() ? QString(fallback) : QString::fromLocal8Bit(text.c_str());
  kept = {};
  return taken;
}

}  // namespace

void installFluidLogging() {
  static std::once_flag once;
  std::call_once(once, [] {
    fluid_set_log_function(FLUID_PANIC, keepFluidError, nullptr);
    fluid_set_log_function(FLUID_ERR, keepFluidError, nullptr);
    fluid_set_log_function(FLUID_WARN, nullptr, nullptr);
    fluid_set_log_function(FLUID_INFO, nullptr, nullptr);
    fluid_set_log_function(FLUID_DBG, nullptr, nullptr);
  });
}

void forgetFluidError() {
  std::lock_guard lock(fluidErrorMutex());
  keptErrors() = {};
}

QString takeFluidError(const char* fallback) {
  return takeKept(&KeptErrors::last, fallback);
}

QString takeFirstFluidError(const char* fallback) {
  return takeKept(&KeptErrors::first, fallback);
}
