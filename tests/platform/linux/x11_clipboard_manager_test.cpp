// Vesk as the desktop's clipboard manager: copies whose applications quit stay pasteable.
#include <csignal>
#include <fstream>
#include <future>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include "platform/linux/x11_pasteboard.h"
#include "tests/core/clipboard/clip_test_folder.h"
#include "tests/platform/linux/test_selection_owner.h"
#include "tests/platform/linux/xvfb.h"

namespace vesk {
namespace {

using test::TestSelectionOwner;
using test::Xvfb;

struct Logged {
  std::mutex mutex;
  std::vector<std::string> lines;
};

std::unique_ptr<X11Pasteboard> openPasteboard(Logged* logged = nullptr,
                                              X11Pasteboard::Options options = {}) {
  if (logged != nullptr) {
    options.log = [logged](const std::string& line) {
      const std::lock_guard lock(logged->mutex);
      logged->lines.push_back(line);
    };
  }
  auto opened = X11Pasteboard::open(std::move(options));
  EXPECT_TRUE(opened.ok());
  return opened.ok() ? std::move(opened).value() : nullptr;
}

std::string clipboard(const std::string& target = "UTF8_STRING") {
  return Xvfb::output("xclip -selection clipboard -o -t " + target + " 2>/dev/null");
}

// xclip holding the clipboard in the foreground, as an application does, until it is killed.
class XclipOwner {
 public:
  XclipOwner(X11Pasteboard& pasteboard, const std::string& target, const std::string& contents) {
    static const test::TemporaryFolder folder;  // of this process: tests run side by side
    const std::string path = folder / "owned.bin";
    std::ofstream(path, std::ios::binary) << contents;
    const int64_t before = pasteboard.changeCount();
    pid_ = std::stoi(Xvfb::output("xclip -quiet -selection clipboard -t '" + target + "' -i " +
                                  path + " >/dev/null 2>&1 & echo $!"));
    EXPECT_TRUE(Xvfb::waitUntil([&] { return pasteboard.changeCount() != before; }));
  }
  // The application quits without handing its clipboard over.
  void quit() { ::kill(pid_, SIGKILL); }

 private:
  pid_t pid_ = 0;
};

// Waits until the pasteboard has seen the owner go away, and its answer to that is done.
bool ownerGone(X11Pasteboard& pasteboard, int64_t before) {
  return Xvfb::waitUntil([&] { return pasteboard.changeCount() > before; });
}

TEST(X11ClipboardManager, CopiesWhoseOwnerQuitsAreServedByVeskButConcealedOnesAreNot) {
  VESK_REQUIRE_XVFB();
  auto pasteboard = openPasteboard();
  ASSERT_TRUE(pasteboard);
  ASSERT_TRUE(pasteboard->managesClipboard());

  {
    XclipOwner owner(*pasteboard, "UTF8_STRING", "survives its owner");
    // The history reads the copy while its owner runs.
    ASSERT_EQ(pasteboard->plainString(), "survives its owner");
    const int64_t before = pasteboard->changeCount();
    owner.quit();
    ASSERT_TRUE(ownerGone(*pasteboard, before));
    EXPECT_TRUE(Xvfb::waitUntil([] { return clipboard() == "survives its owner"; }));
    EXPECT_TRUE(pasteboard->ownsClipboard());
  }

  {
    const std::string png("\x89PNG\r\n\x1a\n-image-bytes", 20);
    XclipOwner owner(*pasteboard, "image/png", png);
    ASSERT_EQ(pasteboard->data(0, "public.png"), Bytes(png.begin(), png.end()));
    EXPECT_FALSE(pasteboard->ownsClipboard());  // given up at once for the new copy
    const int64_t before = pasteboard->changeCount();
    owner.quit();
    ASSERT_TRUE(ownerGone(*pasteboard, before));
    EXPECT_TRUE(Xvfb::waitUntil([&] { return clipboard("image/png") == png; }));
  }

  {
    auto owner = std::make_unique<TestSelectionOwner>(std::vector<TestSelectionOwner::Target>{
        {"UTF8_STRING", TestSelectionOwner::Answer::data, "hunter2"},
        {"x-kde-passwordManagerHint", TestSelectionOwner::Answer::data, "secret"}});
    ASSERT_TRUE(Xvfb::waitUntil([&] { return !pasteboard->ownsClipboard(); }));
    ASSERT_TRUE(pasteboard->itemTypes());
    EXPECT_EQ(pasteboard->plainString(), "hunter2");  // even read, it is not kept
    const int64_t before = pasteboard->changeCount();
    owner.reset();
    ASSERT_TRUE(ownerGone(*pasteboard, before));
    // Queued behind any answer to the owner's going: nothing was taken.
    EXPECT_FALSE(pasteboard->ownsClipboard());
    EXPECT_EQ(clipboard(), "");
  }
}

TEST(X11ClipboardManager, AnOwnerHandingItsClipboardOverHasEveryTargetServed) {
  VESK_REQUIRE_XVFB();
  auto pasteboard = openPasteboard();
  ASSERT_TRUE(pasteboard && pasteboard->managesClipboard());
  auto owner = std::make_unique<TestSelectionOwner>(std::vector<TestSelectionOwner::Target>{
      {"UTF8_STRING", TestSelectionOwner::Answer::data, "handed over"},
      {"text/html", TestSelectionOwner::Answer::data, "<i>handed over</i>"}});
  owner->handOver();
  ASSERT_TRUE(Xvfb::waitUntil([&] { return owner->handedOver().has_value(); }));
  EXPECT_TRUE(*owner->handedOver());
  owner.reset();

  EXPECT_TRUE(pasteboard->ownsClipboard());
  EXPECT_EQ(clipboard(), "handed over");
  EXPECT_EQ(clipboard("text/html"), "<i>handed over</i>");

  // A concealed copy handed over is refused, and the clipboard stays its owner's.
  owner = std::make_unique<TestSelectionOwner>(std::vector<TestSelectionOwner::Target>{
      {"UTF8_STRING", TestSelectionOwner::Answer::data, "hunter2"},
      {"org.nspasteboard.ConcealedType", TestSelectionOwner::Answer::data, ""}});
  owner->handOver();
  ASSERT_TRUE(Xvfb::waitUntil([&] { return owner->handedOver().has_value(); }));
  EXPECT_FALSE(*owner->handedOver());
  EXPECT_FALSE(pasteboard->ownsClipboard());
}

// A client that asks the clipboard manager to save the clipboard it doesn't own; whether the
// manager agreed, once it answered.
std::optional<bool> strangerHandsOver() {
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  const xcb_window_t window = xcb_generate_id(c);
  xcb_create_window(c, 0, window, screen->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                    XCB_COPY_FROM_PARENT, 0, nullptr);
  std::vector<xcb_atom_t> atoms;
  for (const std::string name : {"CLIPBOARD_MANAGER", "SAVE_TARGETS", "VESK_TEST_SAVE"}) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(name.size()), name.data()), nullptr);
    atoms.push_back(reply != nullptr ? reply->atom : XCB_NONE);
    free(reply);  // NOLINT(cppcoreguidelines-no-malloc)
  }
  xcb_convert_selection(c, window, atoms[0], atoms[1], atoms[2], XCB_CURRENT_TIME);
  xcb_flush(c);
  std::optional<bool> agreed;
  Xvfb::waitUntil([&] {
    while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
      if ((event->response_type & 0x7f) == XCB_SELECTION_NOTIFY) {
        agreed = reinterpret_cast<xcb_selection_notify_event_t*>(event)->property != XCB_NONE;
      }
      free(event);  // NOLINT(cppcoreguidelines-no-malloc)
    }
    return agreed.has_value();
  });
  xcb_disconnect(c);
  return agreed;
}

TEST(X11ClipboardManager, AHandOverIsTheOwnersOwnWithinItsBudgetAndGivesWayToVesksWrites) {
  VESK_REQUIRE_XVFB();
  X11Pasteboard::Options options;
  options.handOverBytes = 4096;
  // A hand-over read stops only when Vesk writes, never at this deadline.
  options.copyTimeout = std::chrono::hours(1);
  auto pasteboard = openPasteboard(nullptr, options);
  ASSERT_TRUE(pasteboard && pasteboard->managesClipboard());
  const std::string picture(1000, 'p');
  {
    SCOPED_TRACE("the text types and one image type are kept");
    TestSelectionOwner owner({{"UTF8_STRING", TestSelectionOwner::Answer::data, "kept"},
                              {"text/plain", TestSelectionOwner::Answer::data, "kept"},
                              {"image/jpeg", TestSelectionOwner::Answer::data, picture},
                              {"image/png", TestSelectionOwner::Answer::data, picture},
                              {"application/x-blob", TestSelectionOwner::Answer::data, "blob"}});
    owner.handOver();
    ASSERT_TRUE(Xvfb::waitUntil([&] { return owner.handedOver().has_value(); }));
    EXPECT_TRUE(*owner.handedOver());
    EXPECT_EQ(owner.requested(),
              (std::vector<std::string>{"UTF8_STRING", "text/plain", "image/png"}));
  }
  {
    SCOPED_TRACE("an image beyond the budget is left out");
    auto owner = std::make_unique<TestSelectionOwner>(std::vector<TestSelectionOwner::Target>{
        {"UTF8_STRING", TestSelectionOwner::Answer::data, "small"},
        {"image/png", TestSelectionOwner::Answer::data, std::string(8000, 'p')}});
    owner->handOver();
    ASSERT_TRUE(Xvfb::waitUntil([&] { return owner->handedOver().has_value(); }));
    EXPECT_TRUE(*owner->handedOver());
    owner.reset();
    EXPECT_EQ(clipboard(), "small");
    EXPECT_EQ(clipboard("image/png"), "");
  }
  {
    SCOPED_TRACE("a client that doesn't own the clipboard");
    TestSelectionOwner owner({{"UTF8_STRING", TestSelectionOwner::Answer::data, "not yours"}});
    EXPECT_EQ(strangerHandsOver(), false);
    EXPECT_TRUE(owner.requested().empty());
  }
  {
    SCOPED_TRACE("Vesk writes while an owner trickles its hand-over");
    TestSelectionOwner owner({{"UTF8_STRING", TestSelectionOwner::Answer::drip, "slow"}});
    owner.handOver();
    ASSERT_TRUE(Xvfb::waitUntil([&] { return owner.chunksSent() > 0; }));
    auto written = std::async(std::launch::async, [&] {
      return pasteboard->write({{{"public.utf8-plain-text", Bytes{'m', 'i', 'n', 'e'}}}});
    });
    ASSERT_EQ(written.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_TRUE(written.get().ok());
    ASSERT_TRUE(Xvfb::waitUntil([&] { return owner.handedOver().has_value(); }));
    EXPECT_FALSE(*owner.handedOver());
    EXPECT_EQ(clipboard(), "mine");
  }
}

TEST(X11ClipboardManager, AnotherManagerRunningFirstKeepsTheJob) {
  VESK_REQUIRE_XVFB();
  xcb_connection_t* other = xcb_connect(nullptr, nullptr);
  ASSERT_EQ(xcb_connection_has_error(other), 0);
  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(other)).data;
  const xcb_window_t window = xcb_generate_id(other);
  xcb_create_window(other, 0, window, screen->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                    XCB_COPY_FROM_PARENT, 0, nullptr);
  xcb_intern_atom_reply_t* manager =
      xcb_intern_atom_reply(other, xcb_intern_atom(other, 0, 17, "CLIPBOARD_MANAGER"), nullptr);
  ASSERT_NE(manager, nullptr);
  xcb_set_selection_owner(other, window, manager->atom, XCB_CURRENT_TIME);
  free(manager);  // NOLINT(cppcoreguidelines-no-malloc)
  free(xcb_get_input_focus_reply(other, xcb_get_input_focus(other), nullptr));  // NOLINT

  Logged logged;
  auto pasteboard = openPasteboard(&logged);
  ASSERT_TRUE(pasteboard);
  EXPECT_FALSE(pasteboard->managesClipboard());
  {
    const std::lock_guard lock(logged.mutex);
    EXPECT_EQ(logged.lines.size(), 1U);
  }

  XclipOwner owner(*pasteboard, "UTF8_STRING", "left to the other manager");
  ASSERT_EQ(pasteboard->plainString(), "left to the other manager");
  const int64_t before = pasteboard->changeCount();
  owner.quit();
  ASSERT_TRUE(ownerGone(*pasteboard, before));
  EXPECT_FALSE(pasteboard->ownsClipboard());
  xcb_disconnect(other);
}

}  // namespace
}  // namespace vesk
