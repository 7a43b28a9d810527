#include "app/base/log.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

#include <syslog.h>
#include <unistd.h>

#include <systemd/sd-journal.h>

#include "core/base/utf8.h"

namespace vesk {

const Logger Log::app("app");
const Logger Log::perf("perf");

namespace {

int priorityOf(Logger::Level level) {
  switch (level) {
    case Logger::Level::error:
      return LOG_ERR;
    case Logger::Level::info:
      return LOG_INFO;
    case Logger::Level::debug:
      return LOG_DEBUG;
  }
  return LOG_INFO;
}

const char* nameOf(Logger::Level level) {
  switch (level) {
    case Logger::Level::error:
      return "error";
    case Logger::Level::info:
      return "info";
    case Logger::Level::debug:
      return "debug";
  }
  return "info";
}

std::string formatted(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int size = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (size <= 0) {
    return {};
  }
  std::string text(static_cast<size_t>(size) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, args);
  text.resize(static_cast<size_t>(size));
  return text;
}

std::mutex& stderrMutex() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace

void Logger::writeToJournal(Level level, std::string_view whole) const {
  const std::string message = Log::clipped(whole);
  sd_journal_send("MESSAGE=%.*s", static_cast<int>(message.size()), message.data(), "PRIORITY=%d",
                  priorityOf(level), "SYSLOG_IDENTIFIER=vesk", "CATEGORY=%s", category_, nullptr);
}

void Logger::write(Level level, std::string_view whole) const {
  const std::string message = Log::clipped(whole);
  const int sent = sd_journal_send("MESSAGE=%.*s", static_cast<int>(message.size()), message.data(),
                                   "PRIORITY=%d", priorityOf(level), "SYSLOG_IDENTIFIER=vesk",
                                   "CATEGORY=%s", category_, nullptr);
  // sd_journal_send succeeds quietly when no journal runs (a container, a bare X session).
  static const bool mirrored =
      isatty(STDERR_FILENO) == 1 || access("/run/systemd/journal/socket", W_OK) != 0;
  if (!mirrored && sent >= 0) {
    return;
  }
  const std::lock_guard lock(stderrMutex());
  std::fprintf(stderr, "vesk[%s] %s: %.*s\n", category_, nameOf(level),
               static_cast<int>(message.size()), message.data());
  std::fflush(stderr);
}

void Logger::error(const char* format, ...) const {
  va_list args;
  va_start(args, format);
  const std::string text = formatted(format, args);
  va_end(args);
  write(Level::error, text);
}

void Logger::info(const char* format, ...) const {
  va_list args;
  va_start(args, format);
  const std::string text = formatted(format, args);
  va_end(args);
  write(Level::info, text);
}

void Logger::debug(const char* format, ...) const {
  va_list args;
  va_start(args, format);
  const std::string text = formatted(format, args);
  va_end(args);
  write(Level::debug, text);
}

std::string Log::clipped(std::string_view message) {
  if (message.size() <= kMaxLineBytes) {
    return std::string(message);
  }
  const size_t kept = UTF8::boundaryAtOrBefore(message, kMaxLineBytes);
  return std::string(message.substr(0, kept)) + "… [" + std::to_string(message.size() - kept) +
         " more bytes]";
}

double Log::uptime() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

void Log::latency(std::string_view name, double event, double handled, double updated) {
  const double now = uptime();
  const auto ms = [](double seconds) { return seconds * 1000.0; };
  const std::string label(name);
  perf.debug("%s: %.*f ms = delivery %.*f + update %.*f + draw %.*f", label.c_str(), 2,
             ms(now - event), 2, ms(handled - event), 2, ms(updated - handled), 2,
             ms(now - updated));
}

}  // namespace vesk
