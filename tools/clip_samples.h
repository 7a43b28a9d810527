#pragma once
// Synthetic clipboard history for vesk-tool and the benchmarks: realistic copies of mixed
// kinds and lengths (words, sentences, code, links, file lists, rich text, some non-ASCII),
// drawn from a fixed seed so that runs are comparable.

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>

#include "core/clipboard/clip.h"
#include "core/clipboard/clip_reading.h"

namespace vesk::samples {

class ClipSamples {
 public:
  explicit ClipSamples(uint64_t seed = 0x5EED) : random_(seed) {}

  // The next copy. Never an image: the caller adds those when it has a codec.
  ClipContent next() {
    const int roll = below(100);
    if (roll < 45) {
      return text(Clip::Kind::text, sentence(1 + below(below(10) < 8 ? 12 : 300)));
    }
    if (roll < 55) {
      return text(Clip::Kind::text, code());
    }
    if (roll < 65) {
      return text(Clip::Kind::text, nonASCII());
    }
    if (roll < 77) {
      return link();
    }
    if (roll < 87) {
      return files();
    }
    if (roll < 97) {
      return rich();
    }
    return text(Clip::Kind::text, sentence(800 + below(1200)));  // a long document
  }

  int below(int bound) { return std::uniform_int_distribution<int>(0, bound - 1)(random_); }

  std::string sentence(int words) {
    std::string out;
    for (int i = 0; i < words; ++i) {
      if (i > 0) {
        out += (below(12) == 0 ? ".\n" : " ");
      }
      out += kWords[static_cast<size_t>(below(static_cast<int>(kWords.size())))];
    }
    return out;
  }

 private:
  static constexpr std::array<std::string_view, 64> kWords = {
      "the",     "server",  "deploy",   "invoice",   "meeting", "password", "staging",  "release",
      "notes",   "budget",  "quarter",  "draft",     "review",  "customer", "email",    "address",
      "project", "launch",  "report",   "summary",   "update",  "config",   "database", "backup",
      "screen",  "window",  "keyboard", "clipboard", "history", "search",   "folder",   "file",
      "image",   "link",    "paste",    "copy",      "token",   "session",  "user",     "account",
      "order",   "payment", "ticket",   "issue",     "branch",  "commit",   "merge",    "build",
      "test",    "error",   "warning",  "request",   "reply",   "thanks",   "regards",  "tomorrow",
      "today",   "monday",  "friday",   "morning",   "evening", "london",   "berlin",   "tokyo"};
  static constexpr std::array<std::string_view, 12> kForeign = {
      "café crème",  "naïve façade", "Crème Brûlée", "Größe und Maß",
      "smörgåsbord", "jalapeño",     "東京の天気",   "Ελληνικά κείμενα",
      "Привет, мир", "résumé",       "mañana 🎉",     "Ünïcödé ßtraße"};

  ClipContent text(Clip::Kind kind, std::string body) {
    ClipItems items{{{std::string(ClipReading::utf8Text), Bytes(body.begin(), body.end())}}};
    return {kind, std::move(body), std::move(items), std::nullopt};
  }

  std::string code() {
    std::string out = "func " + std::string(kWords[static_cast<size_t>(below(64))]) + "() {\n";
    const int lines = 2 + below(30);
    for (int i = 0; i < lines; ++i) {
      out += "    let " + std::string(kWords[static_cast<size_t>(below(64))]) + " = " +
             std::to_string(below(100000)) + "\n";
    }
    return out + "}\n";
  }

  std::string nonASCII() {
    return std::string(kForeign[static_cast<size_t>(below(12))]) + " " + sentence(1 + below(8));
  }

  ClipContent link() {
    const std::string url = "https://example.com/" +
                            std::string(kWords[static_cast<size_t>(below(64))]) + "/" +
                            std::to_string(below(1000000));
    ClipContent content = text(Clip::Kind::link, url);
    content.items[0].push_back({"public.url", Bytes(url.begin(), url.end())});
    return content;
  }

  ClipContent files() {
    ClipContent content{Clip::Kind::files, "", {}, std::nullopt};
    const int count = 1 + below(3);
    for (int i = 0; i < count; ++i) {
      const std::string path = "/home/user/" + std::string(kWords[static_cast<size_t>(below(64))]) +
                               "/" + std::string(kWords[static_cast<size_t>(below(64))]) + "-" +
                               std::to_string(below(10000)) + ".pdf";
      const std::string url = "file://" + path;
      content.text += (i > 0 ? "\n" : "") + path;
      content.items.push_back({{"public.file-url", Bytes(url.begin(), url.end())}});
    }
    return content;
  }

  ClipContent rich() {
    const std::string plain = sentence(5 + below(60));
    const std::string rtf = "{\\rtf1\\ansi{\\b " + plain + "}}";
    ClipContent content = text(Clip::Kind::richText, plain);
    content.items[0].insert(content.items[0].begin(),
                            {"public.rtf", Bytes(rtf.begin(), rtf.end())});
    return content;
  }

  std::mt19937_64 random_;
};

}  // namespace vesk::samples
