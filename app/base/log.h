#pragma once
// Log: Vesk's diagnostic log. Every line goes to the systemd journal with the identifier "vesk"
// and the field CATEGORY ("app" for everything, "perf" for latency lines). When standard error is
// a terminal, or the journal cannot be reached, the line is also written there, so nothing is
// lost when Vesk runs by hand or outside a systemd session.
//
// Thread-safe: any thread may log.

#include <cstddef>
#include <string>
#include <string_view>

namespace vesk {

class Logger final {
 public:
  enum class Level { error, info, debug };

  explicit constexpr Logger(const char* category) : category_(category) {}

  // printf-style; string arguments are plain "%s".
  void error(const char* format, ...) const __attribute__((format(printf, 2, 3)));
  void info(const char* format, ...) const __attribute__((format(printf, 2, 3)));
  void debug(const char* format, ...) const __attribute__((format(printf, 2, 3)));

  // Writes one finished line, clipped to kMaxLineBytes.
  void write(Level level, std::string_view whole) const;
  // The same, to the journal only, for callers that print it themselves.
  void writeToJournal(Level level, std::string_view whole) const;

  const char* category() const { return category_; }

 private:
  const char* category_;
};

struct Log {
  // Longer messages are cut (a desktop entry's name or a path can be megabytes long).
  static constexpr size_t kMaxLineBytes = 2000;

  static const Logger app;
  static const Logger perf;

  // The latency of one interaction, from three times on the monotonic clock in seconds (the
  // event, when it was handled, when the view was updated), measured up to now. Debug level on
  // `perf`: "name: T ms = delivery D + update U + draw W".
  static void latency(std::string_view name, double event, double handled, double updated);

  // `message` cut after at most kMaxLineBytes, at a character boundary, with a marker saying how
  // many bytes were cut; unchanged when it fits.
  static std::string clipped(std::string_view message);

  // Seconds on the monotonic clock (the clock of `latency`).
  static double uptime();
};

}  // namespace vesk
