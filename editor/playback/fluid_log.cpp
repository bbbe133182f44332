#include "editor/playback/fluid_log.h"

#include <fluidsynth.h>

#include <mutex>
#include <string>

namespace {

std::mutex& fluidErrorMutex() {
  static std::mutex mutex;
  return mutex;
}

std::string& fluidErrorText() {
  static std::string text;
  return text;
}

void keepFluidError(int, const char* message, void*) {
  std::lock_guard lock(fluidErrorMutex());
  fluidErrorText() = message ? message : "";
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
  fluidErrorText().clear();
}

QString takeFluidError(const char* fallback) {
  std::lock_guard lock(fluidErrorMutex());
  QString text = fluidErrorText().empty() ? QString(fallback)
                                          : QString::fromLocal8Bit(fluidErrorText().c_str());
  fluidErrorText().clear();
  return text;
}
