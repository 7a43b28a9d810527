// Vesk as the desktop's clipboard manager: copies whose applications quit stay pasteable.
#include <csignal>
#include <fstream>
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

std::unique_ptr<X11Pasteboard> openPasteboard(Logged* logged = nullptr) {
  X11Pasteboard::Options options;
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
