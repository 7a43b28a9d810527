#include "app/clipboard/clip_text.h"

#include <QDateTime>
#include <QLocale>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <set>

#include "core/base/utf8.h"
#include "core/clipboard/clipboard_index.h"
#include "core/clipboard/url.h"

namespace vesk {

namespace {

constexpr int64_t kPreviewLines = 9;
constexpr size_t kPreviewCharacters = 1200;
constexpr double kPreviewWidth = 640;
constexpr double kPreviewHeight = 312;

constexpr double kMinute = 60;
constexpr double kHour = 3600;
constexpr qint64 kLastWeekday = 6;  // calendar days back that are still named by their weekday
// Times beyond this many seconds from 1970 either way (about the year 5000) are clamped, so
// that a damaged copy time still gives a date.
constexpr double kFarthestTime = 1e11;

QDateTime localTime(double seconds) {
  const double sane =
      std::isfinite(seconds) ? std::clamp(seconds, -kFarthestTime, kFarthestTime) : 0;
  return QDateTime::fromMSecsSinceEpoch(std::llround(sane * 1000));
}

std::string shortTime(const QDateTime& time) {
  return QLocale().toString(time.time(), QLocale::ShortFormat).toStdString();
}

// Weekday and month names stay English whatever the user's language.
std::string english(const QDateTime& time, const char* format) {
  return QLocale(QLocale::English).toString(time.date(), QString::fromLatin1(format)).toStdString();
}

// Days between the starts of the two calendar days, so 23:59 is "yesterday" at 00:01 and a
// change of daylight saving time shifts nothing.
qint64 calendarDays(const QDateTime& from, const QDateTime& to) {
  return from.date().daysTo(to.date());
}

// The day of `then` seen from `now`: `today` on the same calendar day, "yesterday", the weekday
// in `weekdayFormat` two to six days back, else the month and day.
std::string dayName(const QDateTime& then, const QDateTime& now, std::string today,
                    const char* weekdayFormat) {
  const qint64 days = calendarDays(then, now);
  if (days == 0) {
    return today;
  }
  if (days == 1) {
    return "yesterday";
  }
  if (days >= 2 && days <= kLastWeekday) {
    return english(then, weekdayFormat);
  }
  return english(then, "MMM d");
}

std::string timePhrase(const std::string& verb, double date, double now) {
  const QDateTime then = localTime(date);
  return verb + " " + dayName(then, localTime(now), "today at " + shortTime(then), "dddd");
}

std::string grouped(int64_t number) {
  return QLocale().toString(static_cast<qlonglong>(number)).toStdString();
}

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// Runs of white space become one space; none at either end.
std::string squeezed(std::string_view line) {
  std::string result;
  bool pendingSpace = false;
  for (const char c : line) {
    if (isSpace(c)) {
      pendingSpace = !result.empty();
      continue;
    }
    if (pendingSpace) {
      result.push_back(' ');
      pendingSpace = false;
    }
    result.push_back(c);
  }
  return result;
}

std::string_view withoutLinkPrefix(std::string_view text) {
  for (const std::string_view prefix : {"https://", "http://", "mailto:"}) {
    if (text.size() >= prefix.size() &&
        std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
          return a == std::tolower(static_cast<unsigned char>(b));
        })) {
      return text.substr(prefix.size());
    }
  }
  return text;
}

}  // namespace

std::string opened(double date, double now) {
  return timePhrase("opened", date, now);
}

namespace ClipText {

Title title(const Clip& clip, std::string_view query) {
  switch (clip.kind) {
    case Clip::Kind::image:
      return {"Image", false};
    case Clip::Kind::files: {
      const auto all = paths(clip);
      std::string text =
          all.empty() ? std::string() : std::filesystem::path(all.front()).filename().string();
      if (clip.lines >= 2) {
        text += " and " + grouped(clip.lines - 1) + " more";
      }
      return {text, false};
    }
    case Clip::Kind::link:
      return {std::string(withoutLinkPrefix(clip.text)), false};
    case Clip::Kind::text:
    case Clip::Kind::richText:
      break;
  }
  if (!query.empty()) {
    if (const auto line = ClipboardIndex::matchingLine(clip.text, query)) {
      return {squeezed(*line), false};
    }
  }
  const std::string_view text = clip.text;
  size_t start = 0;
  while (start <= clip.text.size()) {
    const size_t end = std::min(clip.text.find('\n', start), clip.text.size());
    const std::string line = squeezed(text.substr(start, end - start));
    if (!line.empty()) {
      return {line, false};
    }
    start = end + 1;
  }
  return {"Spaces and line breaks", true};
}

std::string detail(const Clip& clip, const std::string& home) {
  switch (clip.kind) {
    case Clip::Kind::text:
    case Clip::Kind::richText:
      return clip.lines >= 2 ? grouped(clip.lines) + " lines" : std::string();
    case Clip::Kind::link:
      return {};
    case Clip::Kind::image:
      return std::to_string(clip.pixelWidth) + " × " + std::to_string(clip.pixelHeight);
    case Clip::Kind::files:
      return folders(clip, home);
  }
  return {};
}

std::string preview(const Clip& clip) {
  std::string_view text = clip.text;
  size_t newlines = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && ++newlines == kPreviewLines) {
      text = text.substr(0, i);
      break;
    }
  }
  text = text.substr(0, UTF8::prefixBytes(text, kPreviewCharacters));
  while (!text.empty() && text.front() == '\n') {
    text.remove_prefix(1);
  }
  while (!text.empty() && text.back() == '\n') {
    text.remove_suffix(1);
  }
  return std::string(text);
}

std::string age(double time, double now) {
  const double seconds = now - time;
  if (!(seconds >= kMinute)) {  // also a time in the future, or no time at all
    return "now";
  }
  if (seconds < kHour) {
    return std::to_string(static_cast<int64_t>(seconds / kMinute)) + " min";
  }
  const QDateTime then = localTime(time);
  return dayName(then, localTime(now), shortTime(then), "ddd");
}

std::string about(const std::vector<std::string>& parts, double copied,
                  const std::optional<std::string>& from, double now) {
  std::string line = timePhrase("copied", copied, now);
  if (from && !from->empty()) {
    line += " from " + *from;
  }
  for (const std::string& part : parts) {
    if (!part.empty()) {
      line += " · " + part;
    }
  }
  return line;
}

std::string host(const Clip& clip) {
  if (const auto url = URL::parse(clip.text); url && !url->host.empty()) {
    return url->host;
  }
  return std::string(withoutLinkPrefix(clip.text));
}

std::vector<std::string> paths(const Clip& clip) {
  std::vector<std::string> result;
  size_t start = 0;
  while (start < clip.text.size()) {
    const size_t end = std::min(clip.text.find('\n', start), clip.text.size());
    if (end > start) {
      result.push_back(clip.text.substr(start, end - start));
    }
    start = end + 1;
  }
  if (static_cast<int64_t>(clip.text.size()) < clip.textBytes && !result.empty()) {
    result.pop_back();  // cut when loaded: the last path may be partial
  }
  return result;
}

std::string folders(const Clip& clip, const std::string& home) {
  std::set<std::string> parents;
  for (const std::string& path : paths(clip)) {
    parents.insert(std::filesystem::path(path).parent_path().string());
  }
  if (parents.size() != 1) {
    return std::to_string(parents.size()) + " folders";
  }
  std::string folder = *parents.begin();
  if (!home.empty() && (folder == home || folder.starts_with(home + "/"))) {
    folder = std::string("~").append(folder, home.size());
  }
  return folder;
}

std::pair<int64_t, int64_t> previewSize(const Clip& clip) {
  if (clip.pixelWidth <= 0 || clip.pixelHeight <= 0) {
    return {0, 0};
  }
  const auto width = static_cast<double>(clip.pixelWidth);
  const auto height = static_cast<double>(clip.pixelHeight);
  const double scale = std::min({1.0, kPreviewWidth / width, kPreviewHeight / height});
  const auto points = [scale](double pixels) {
    return std::max<int64_t>(1, std::llround(scale * pixels / 2));
  };
  return {points(width), points(height)};
}

}  // namespace ClipText

namespace ClipFiles {

std::string destination(const std::string& folder, double time, const std::string& extension) {
  const QDateTime local = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(time * 1000));
  const std::string base =
      "Clipboard " +
      QLocale(QStringLiteral("en_US_POSIX")).toString(local, "yyyy-MM-dd 'at' HH.mm").toStdString();
  for (int number = 1;; ++number) {
    std::string name = base;
    if (number != 1) {
      name.append(" ").append(std::to_string(number));
    }
    name.append(".").append(extension);
    std::string path = folder;
    path.append("/").append(name);
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::symlink_status(path, error))) {
      return path;
    }
  }
}

}  // namespace ClipFiles

}  // namespace vesk
