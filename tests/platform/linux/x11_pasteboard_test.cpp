#include "platform/linux/x11_pasteboard.h"

#include <chrono>
#include <fstream>
#include <future>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include "core/clipboard/clip_reading.h"
#include "platform/linux/qt_image_codec.h"
#include "platform/linux/x11_clipboard_types.h"
#include "tests/core/clipboard/clip_test_folder.h"
#include "tests/platform/linux/test_selection_owner.h"
#include "tests/platform/linux/xvfb.h"

namespace vesk {
namespace {

using test::TestSelectionOwner;
using test::Xvfb;
using Types = std::vector<std::vector<std::string>>;

std::unique_ptr<X11Pasteboard> openPasteboard(X11Pasteboard::Options options = {}) {
  auto opened = X11Pasteboard::open(std::move(options));
  EXPECT_TRUE(opened.ok()) << (opened.ok() ? "" : opened.failure().description);
  return opened.ok() ? std::move(opened).value() : nullptr;
}

// Test processes run side by side, so each writes its copies in a folder of its own.
std::string tempFile(const std::string& name, const Bytes& contents) {
  static const test::TemporaryFolder folder;
  const std::string path = folder / name;
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(contents.data()),
             static_cast<std::streamsize>(contents.size()));
  return path;
}

Bytes randomBytes(size_t size) {
  std::mt19937 random(7);
  Bytes bytes(size);
  for (auto& byte : bytes) {
    byte = static_cast<uint8_t>(random());
  }
  return bytes;
}

Bytes bytesOf(std::string_view text) {
  return {text.begin(), text.end()};
}

// Copies `contents` as `target` with xclip and waits until the pasteboard saw the new owner.
void copyWithXclip(X11Pasteboard& pasteboard, const std::string& target, const Bytes& contents) {
  const int64_t before = pasteboard.changeCount();
  const std::string path = tempFile("copy.bin", contents);
  ASSERT_EQ(Xvfb::run("xclip -selection clipboard -t '" + target + "' -i " + path), 0);
  ASSERT_TRUE(Xvfb::waitUntil([&] { return pasteboard.changeCount() != before; }));
}

TEST(X11Pasteboard, TextCopiedElsewhereIsReadWithItsTypeAndRaisesTheChangeCount) {
  VESK_REQUIRE_XVFB();
  auto pasteboard = openPasteboard();
  ASSERT_TRUE(pasteboard);
  const int64_t start = pasteboard->changeCount();
  copyWithXclip(*pasteboard, "UTF8_STRING", bytesOf("grüße\nzweite Zeile"));

  EXPECT_GT(pasteboard->changeCount(), start);
  EXPECT_EQ(pasteboard->itemTypes(), (Types{{"public.utf8-plain-text"}}));
  EXPECT_EQ(pasteboard->string(0, "public.utf8-plain-text"), "grüße\nzweite Zeile");
  EXPECT_EQ(pasteboard->plainString(), "grüße\nzweite Zeile");
  EXPECT_EQ(pasteboard->data(0, "public.html"), std::nullopt);
  EXPECT_EQ(pasteboard->data(1, "public.utf8-plain-text"), std::nullopt);
}

TEST(X11Pasteboard, ClipboardWithoutOwnerHasNoItems) {
  VESK_REQUIRE_XVFB();
  auto pasteboard = openPasteboard();
  ASSERT_TRUE(pasteboard);
  // Nobody has copied anything on this process's server unless an earlier test did.
  if (Xvfb::output("xclip -selection clipboard -o -t TARGETS 2>/dev/null").empty()) {
    EXPECT_EQ(pasteboard->itemTypes(), std::nullopt);
    EXPECT_EQ(pasteboard->plainString(), std::nullopt);
  }
}

TEST(X11Pasteboard, Latin1StringTargetBecomesUtf8) {
  VESK_REQUIRE_XVFB();
  auto pasteboard = openPasteboard();
  ASSERT_TRUE(pasteboard);
  copyWithXclip(*pasteboard, "STRING", Bytes{'c', 'a', 'f', 0xE9});
  EXPECT_EQ(pasteboard->string(0, "public.utf8-plain-text"), "café");
}

TEST(X11Pasteboard, LargeCopyArrivesThroughIncrementalTransfer) {
  VESK_REQUIRE_XVFB();
  // xclip serves 20 MB in many small steps; on a loaded machine, under a sanitizer, one of them
  // can take longer than the default second, which is not what this test is about.
  X11Pasteboard::Options options;
  options.stepTimeout = std::chrono::seconds(20);
  auto pasteboard = openPasteboard(std::move(options));
  ASSERT_TRUE(pasteboard);
  const Bytes image = randomBytes(20U << 20);
  copyWithXclip(*pasteboard, "image/png", image);

  EXPECT_EQ(pasteboard->itemTypes(), (Types{{"public.png"}}));
  const auto read = pasteboard->data(0, "public.png");
  ASSERT_TRUE(read);
  EXPECT_EQ(read->size(), image.size());
  EXPECT_TRUE(*read == image);
}

TEST(X11Pasteboard, CopyOverTheSizeLimitIsNotReadAndIsLogged) {
  VESK_REQUIRE_XVFB();
  std::mutex mutex;
  std::vector<std::string> lines;
  X11Pasteboard::Options options;
  options.maxBytes = 1U << 20;
  options.log = [&](const std::string& line) {
    const std::lock_guard lock(mutex);
    lines.push_back(line);
  };
  auto pasteboard = openPasteboard(options);
  ASSERT_TRUE(pasteboard);
  copyWithXclip(*pasteboard, "image/png", randomBytes(3U << 20));

  EXPECT_EQ(pasteboard->data(0, "public.png"), std::nullopt);
  const std::lock_guard lock(mutex);
  ASSERT_EQ(lines.size(), 1U);
  EXPECT_NE(lines[0].find("larger than 1 MiB"), std::string::npos) << lines[0];
}

TEST(X11Pasteboard, AThrowOnTheClipboardThreadFailsTheCallAndTheThreadGoesOn) {
  VESK_REQUIRE_XVFB();
  X11Pasteboard::Options options;
  options.maxBytes = 1U << 20;
  // The copy over the limit is logged on the clipboard thread, and the log sink fails.
  options.log = [](const std::string& line) {
    if (line.find("larger than") != std::string::npos) {
      throw std::runtime_error("log sink is full");
    }
  };
  auto pasteboard = openPasteboard(options);
  ASSERT_TRUE(pasteboard);
  copyWithXclip(*pasteboard, "image/png", randomBytes(3U << 20));
  EXPECT_EQ(pasteboard->data(0, "public.png"), std::nullopt);

  // The thread still serves the clipboard: its next write is pasted elsewhere.
  ASSERT_TRUE(pasteboard->write({{{"public.utf8-plain-text", bytesOf("still here")}}}).ok());
  EXPECT_TRUE(pasteboard->ownsClipboard());
  EXPECT_EQ(Xvfb::output("xclip -selection clipboard -o"), "still here");
}

TEST(X11Pasteboard, UriListBecomesOneItemPerUri) {
  VESK_REQUIRE_XVFB();
  auto pasteboard = openPasteboard();
  ASSERT_TRUE(pasteboard);
  copyWithXclip(*pasteboard, "text/uri-list",
                bytesOf("# copied\r\nfile:///tmp/a%20b.txt\r\nhttps://example.com/x\r\n"));

  EXPECT_EQ(pasteboard->itemTypes(), (Types{{"public.file-url"}, {"public.url"}}));
  EXPECT_EQ(pasteboard->string(0, "public.file-url"), "file:///tmp/a%20b.txt");
  EXPECT_EQ(pasteboard->string(1, "public.url"), "https://example.com/x");
  EXPECT_EQ(pasteboard->string(1, "public.file-url"), std::nullopt);
}

TEST(X11Pasteboard, MarkerTargetsAreVisibleAsTypes) {
  VESK_REQUIRE_XVFB();
  auto pasteboard = openPasteboard();
  ASSERT_TRUE(pasteboard);
  copyWithXclip(*pasteboard, "x-kde-passwordManagerHint", bytesOf("secret"));
  EXPECT_EQ(pasteboard->itemTypes(), (Types{{"org.nspasteboard.ConcealedType"}}));

  copyWithXclip(*pasteboard, "org.nspasteboard.TransientType", {});
  EXPECT_EQ(pasteboard->itemTypes(), (Types{{"org.nspasteboard.TransientType"}}));

  // Any other hint value is not a password.
  copyWithXclip(*pasteboard, "x-kde-passwordManagerHint", bytesOf("public"));
  EXPECT_EQ(pasteboard->itemTypes(), (Types{{}}));
}

TEST(X11Pasteboard, OwnWriteIsPastedByOtherApplications) {
  VESK_REQUIRE_XVFB();
  auto pasteboard = openPasteboard();
  ASSERT_TRUE(pasteboard);
  const auto written =
      pasteboard->write({{{"public.utf8-plain-text", bytesOf("from vesk")},
                          {"public.html", bytesOf("<b>from vesk</b>")},
                          {"org.nspasteboard.source", bytesOf("org.gnome.Terminal")}}});
  ASSERT_TRUE(written.ok()) << written.failure().description;
  EXPECT_EQ(written.value(), pasteboard->changeCount());
  EXPECT_TRUE(pasteboard->ownsClipboard());

  EXPECT_EQ(Xvfb::output("xclip -selection clipboard -o"), "from vesk");
  EXPECT_EQ(Xvfb::output("xclip -selection clipboard -o -t text/html"), "<b>from vesk</b>");
  const std::string targets = Xvfb::output("xclip -selection clipboard -o -t TARGETS");
  EXPECT_NE(targets.find("org.nspasteboard.source"), std::string::npos) << targets;
  EXPECT_NE(targets.find("text/plain;charset=utf-8"), std::string::npos) << targets;

  // Reading our own write goes through the server like any other copy.
  EXPECT_EQ(pasteboard->itemTypes(),
            (Types{{"public.utf8-plain-text", "public.html", "org.nspasteboard.source"}}));
  EXPECT_EQ(pasteboard->string(0, "org.nspasteboard.source"), "org.gnome.Terminal");

  // Another copy ends our ownership.
  copyWithXclip(*pasteboard, "UTF8_STRING", bytesOf("later"));
  EXPECT_FALSE(pasteboard->ownsClipboard());
  EXPECT_EQ(pasteboard->plainString(), "later");
}

// A client of its own asking Vesk's write for several targets at once, through MULTIPLE.
TEST(X11Pasteboard, OwnWriteAnswersMultipleWithEachTarget) {
  VESK_REQUIRE_XVFB();
  auto pasteboard = openPasteboard();
  ASSERT_TRUE(pasteboard);
  ASSERT_TRUE(pasteboard
                  ->write({{{"public.utf8-plain-text", bytesOf("several")},
                            {"public.html", bytesOf("<b>several</b>")}}})
                  .ok());

  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  ASSERT_EQ(xcb_connection_has_error(c), 0);
  const auto atom = [c](const std::string& name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(name.size()), name.data()), nullptr);
    const xcb_atom_t value = reply != nullptr ? reply->atom : XCB_NONE;
    free(reply);  // NOLINT(cppcoreguidelines-no-malloc)
    return value;
  };
  const auto read = [c](xcb_window_t window, xcb_atom_t property) {
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 4096), nullptr);
    Bytes bytes;
    if (reply != nullptr) {
      const auto* data = static_cast<const uint8_t*>(xcb_get_property_value(reply));
      bytes.assign(data, data + xcb_get_property_value_length(reply));
    }
    free(reply);  // NOLINT(cppcoreguidelines-no-malloc)
    return bytes;
  };
  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  const xcb_window_t window = xcb_generate_id(c);
  xcb_create_window(c, 0, window, screen->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                    XCB_COPY_FROM_PARENT, 0, nullptr);
  const xcb_atom_t text = atom("VESK_TEXT"), html = atom("VESK_HTML"), png = atom("VESK_PNG");
  const std::vector<xcb_atom_t> pairs{atom("UTF8_STRING"), text, atom("text/html"), html,
                                      atom("image/png"),   png};
  const xcb_atom_t list = atom("VESK_MULTIPLE");
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, list, atom("ATOM_PAIR"), 32,
                      static_cast<uint32_t>(pairs.size()), pairs.data());
  xcb_convert_selection(c, window, atom("CLIPBOARD"), atom("MULTIPLE"), list, XCB_CURRENT_TIME);
  xcb_flush(c);
  xcb_atom_t answered = XCB_NONE;
  ASSERT_TRUE(Xvfb::waitUntil([&] {
    while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
      if ((event->response_type & 0x7F) == XCB_SELECTION_NOTIFY) {
        answered = reinterpret_cast<xcb_selection_notify_event_t*>(event)->property;
      }
      free(event);  // NOLINT(cppcoreguidelines-no-malloc)
    }
    return answered != XCB_NONE;
  }));
  EXPECT_EQ(answered, list);
  EXPECT_EQ(read(window, text), bytesOf("several"));
  EXPECT_EQ(read(window, html), bytesOf("<b>several</b>"));
  // The target Vesk doesn't offer has its property set to None in the answered list.
  const Bytes answer = read(window, list);
  ASSERT_EQ(answer.size(), pairs.size() * 4);
  std::vector<xcb_atom_t> got(pairs.size());
  std::copy_n(answer.data(), answer.size(), reinterpret_cast<uint8_t*>(got.data()));
  EXPECT_EQ(got[1], text);
  EXPECT_EQ(got[3], html);
  EXPECT_EQ(got[5], static_cast<xcb_atom_t>(XCB_NONE));
  xcb_disconnect(c);
}

TEST(X11Pasteboard, LargeOwnWriteIsServedInChunks) {
  VESK_REQUIRE_XVFB();
  auto pasteboard = openPasteboard();
  ASSERT_TRUE(pasteboard);
  const Bytes image = randomBytes(20U << 20);
  ASSERT_TRUE(pasteboard->write({{{"public.png", image}}}).ok());

  const std::string pasted = Xvfb::output("xclip -selection clipboard -o -t image/png");
  EXPECT_EQ(pasted.size(), image.size());
  EXPECT_TRUE(Bytes(pasted.begin(), pasted.end()) == image);
  const auto read = pasteboard->data(0, "public.png");
  ASSERT_TRUE(read);
  EXPECT_TRUE(*read == image);
}

TEST(X11Pasteboard, FilesWrittenAsSeveralItemsBecomeOneUriList) {
  VESK_REQUIRE_XVFB();
  auto pasteboard = openPasteboard();
  ASSERT_TRUE(pasteboard);
  ASSERT_TRUE(pasteboard
                  ->write({{{"public.file-url", bytesOf("file:///tmp/one")}},
                           {{"public.file-url", bytesOf("file:///tmp/two")}}})
                  .ok());
  EXPECT_EQ(Xvfb::output("xclip -selection clipboard -o -t text/uri-list"),
            "file:///tmp/one\r\nfile:///tmp/two\r\n");
  EXPECT_EQ(pasteboard->itemTypes(), (Types{{"public.file-url"}, {"public.file-url"}}));
}

TEST(X11Pasteboard, ConcealedWriteCarriesThePasswordHint) {
  VESK_REQUIRE_XVFB();
  auto pasteboard = openPasteboard();
  ASSERT_TRUE(pasteboard);
  ASSERT_TRUE(pasteboard
                  ->write({{{"public.utf8-plain-text", bytesOf("hunter2")},
                            {"org.nspasteboard.ConcealedType", {}}}})
                  .ok());
  EXPECT_EQ(Xvfb::output("xclip -selection clipboard -o -t x-kde-passwordManagerHint"), "secret");
}

TEST(X11Pasteboard, OwnerThatNeverAnswersCostsOneStep) {
  VESK_REQUIRE_XVFB();
  X11Pasteboard::Options options;
  options.stepTimeout = std::chrono::milliseconds(300);
  auto pasteboard = openPasteboard(options);
  ASSERT_TRUE(pasteboard);

  // A client that takes the clipboard and then never reads its events.
  xcb_connection_t* silent = xcb_connect(nullptr, nullptr);
  ASSERT_EQ(xcb_connection_has_error(silent), 0);
  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(silent)).data;
  const xcb_window_t window = xcb_generate_id(silent);
  xcb_create_window(silent, 0, window, screen->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                    XCB_COPY_FROM_PARENT, 0, nullptr);
  const auto cookie = xcb_intern_atom(silent, 0, 9, "CLIPBOARD");
  xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(silent, cookie, nullptr);
  const int64_t before = pasteboard->changeCount();
  xcb_set_selection_owner(silent, window, atom->atom, XCB_CURRENT_TIME);
  xcb_flush(silent);
  free(atom);  // NOLINT(cppcoreguidelines-no-malloc)
  ASSERT_TRUE(Xvfb::waitUntil([&] { return pasteboard->changeCount() != before; }));

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(pasteboard->itemTypes(), std::nullopt);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));

  // When it goes away, the count moves and the pasteboard works on.
  xcb_disconnect(silent);
  ASSERT_TRUE(Xvfb::waitUntil([&] { return pasteboard->changeCount() != before + 1; }));
  ASSERT_TRUE(pasteboard->write({{{"public.utf8-plain-text", bytesOf("still here")}}}).ok());
  EXPECT_EQ(pasteboard->plainString(), "still here");
}

// Password managers mark a copy in several ways; each must keep it out of the history before
// any of its data is read, wherever the mark sits in the list and however the hint misbehaves.
TEST(X11Pasteboard, MarkedCopiesAreSkippedBeforeTheirDataIsRead) {
  VESK_REQUIRE_XVFB();
  X11Pasteboard::Options options;
  options.stepTimeout = std::chrono::milliseconds(300);
  auto pasteboard = openPasteboard(options);
  ASSERT_TRUE(pasteboard);
  const QtImageCodec codec;
  using Answer = TestSelectionOwner::Answer;
  using Target = TestSelectionOwner::Target;
  std::vector<Target> fillers;
  for (int i = 0; i < 600; ++i) {
    fillers.push_back({"x-vesk-test-filler-" + std::to_string(i), Answer::refuse, ""});
  }
  const std::string hint = "x-kde-passwordManagerHint";
  struct Case {
    std::string what;
    Target mark;
    bool skipped;
  };
  const std::vector<Case> cases{
      {"concealed after 600 targets", {"org.nspasteboard.ConcealedType", Answer::data, ""}, true},
      {"transient after 600 targets", {"org.nspasteboard.TransientType", Answer::data, ""}, true},
      {"generated after 600 targets",
       {"org.nspasteboard.AutoGeneratedType", Answer::data, ""},
       true},
      {"hint after 600 targets", {hint, Answer::data, "secret"}, true},
      {"hint refused", {hint, Answer::refuse, ""}, true},
      {"hint not a word", {hint, Answer::data, std::string("\0\xff\x01secret", 9)}, true},
      {"hint saying it is no password", {hint, Answer::data, "public"}, false},
      // Last, so that its late answer can't land in the next case's read.
      {"hint answered after the step", {hint, Answer::late, "secret"}, true},
  };
  std::unique_ptr<TestSelectionOwner> owner;
  for (const Case& each : cases) {
    SCOPED_TRACE(each.what);
    std::vector<Target> targets{{"UTF8_STRING", Answer::data, "hunter2"}};
    targets.insert(targets.end(), fillers.begin(), fillers.end());
    targets.push_back(each.mark);
    const int64_t before = pasteboard->changeCount();
    // The next owner takes over before the last one goes, so that its going changes nothing.
    auto next = std::make_unique<TestSelectionOwner>(targets, std::chrono::milliseconds(600));
    ASSERT_TRUE(Xvfb::waitUntil([&] { return pasteboard->changeCount() != before; }));
    owner = std::move(next);

    const auto snapshot =
        ClipReading::snapshot(*pasteboard, pasteboard->changeCount(), std::nullopt, codec, 0);
    if (each.skipped) {
      EXPECT_EQ(snapshot, std::nullopt);
      EXPECT_FALSE(owner->wasAskedFor("UTF8_STRING"));
    } else {
      ASSERT_TRUE(snapshot);
      EXPECT_EQ(snapshot->content.text, "hunter2");
    }
  }
}

// An owner that sends one byte at a time, each well within the step timeout, would keep the
// reader busy for ever; the copy's deadline ends it, the copy is dropped (not recorded with
// what was read of it), once logged, and the clipboard is read again at the next copy.
TEST(X11Pasteboard, ACopyDrippedByteByByteIsGivenUpAtItsDeadline) {
  VESK_REQUIRE_XVFB();
  std::mutex mutex;
  std::vector<std::string> lines;
  X11Pasteboard::Options options;
  options.copyTimeout = std::chrono::milliseconds(1500);
  options.log = [&](const std::string& line) {
    const std::lock_guard lock(mutex);
    lines.push_back(line);
  };
  auto pasteboard = openPasteboard(options);
  ASSERT_TRUE(pasteboard);
  const QtImageCodec codec;
  std::future<std::optional<ClipSnapshot>> read;
  {
    const int64_t before = pasteboard->changeCount();
    const TestSelectionOwner owner(
        {{"UTF8_STRING", TestSelectionOwner::Answer::data, "the visible part"},
         {"text/html", TestSelectionOwner::Answer::drip, ""}},
        std::chrono::milliseconds(200));
    ASSERT_TRUE(Xvfb::waitUntil([&] { return pasteboard->changeCount() != before; }));
    const int64_t count = pasteboard->changeCount();
    read = std::async(std::launch::async, [&pasteboard, &codec, count] {
      return ClipReading::snapshot(*pasteboard, count, std::nullopt, codec, 0);
    });
    ASSERT_EQ(read.wait_for(std::chrono::seconds(8)), std::future_status::ready);
    EXPECT_GE(owner.chunksSent(), 2);
    EXPECT_EQ(read.get(), std::nullopt);
    {
      const std::lock_guard lock(mutex);
      ASSERT_EQ(lines.size(), 1U);
      EXPECT_NE(lines[0].find("took longer than"), std::string::npos) << lines[0];
    }
    copyWithXclip(*pasteboard, "UTF8_STRING", bytesOf("next copy"));
  }
  EXPECT_EQ(pasteboard->plainString(), "next copy");
}

TEST(X11Pasteboard, EmptyWriteLeavesTheClipboardEmpty) {
  VESK_REQUIRE_XVFB();
  auto pasteboard = openPasteboard();
  ASSERT_TRUE(pasteboard);
  copyWithXclip(*pasteboard, "UTF8_STRING", bytesOf("before"));
  ASSERT_TRUE(pasteboard->write({}).ok());
  EXPECT_EQ(pasteboard->itemTypes(), (Types{{}}));
  EXPECT_EQ(pasteboard->plainString(), std::nullopt);
}

TEST(X11ClipboardTypes, UriListParsingSkipsCommentsAndLineEnds) {
  EXPECT_EQ(X11ClipboardTypes::parseUriList("#c\r\nfile:///a\r\n\r\n  file:///b  \nhttp://x"),
            (std::vector<std::string>{"file:///a", "file:///b", "http://x"}));
  EXPECT_TRUE(X11ClipboardTypes::parseUriList("").empty());
}

}  // namespace
}  // namespace vesk
