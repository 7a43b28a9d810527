// Recording copies and pasting them back, with real X clients on a private X server.

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QImage>
#include <QLineEdit>
#include <QMimeData>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

#include <gtest/gtest.h>

#include "tests/e2e/e2e_support.h"
#include "tests/e2e/vesk_process.h"
#include "tests/platform/linux/test_selection_owner.h"
#include "tests/platform/linux/xvfb.h"

namespace vesk::test {
namespace {

using namespace std::chrono_literals;

class ClipboardE2E : public testing::Test {
 protected:
  void SetUp() override {
    VESK_REQUIRE_XVFB();
    vesk = std::make_unique<VeskProcess>(home);
  }

  void startVesk() {
    ASSERT_TRUE(vesk->start());
    ASSERT_TRUE(vesk->waitForLog("Watching the clipboard", 10s)) << vesk->log();
  }

  void copy(const std::string& text, const std::string& type = "") {
    std::vector<std::string> args = {"xclip", "-selection", "clipboard"};
    if (!type.empty()) {
      args.insert(args.end(), {"-t", type});
    }
    ASSERT_EQ(runProgram(home, args, text), 0);
  }

  std::vector<StoredClip> clips() const { return storedClips(home.database()); }

  bool waitForClips(size_t count, const std::string& newest,
                    std::chrono::milliseconds timeout = 3s) const {
    return pumpUntil(
        [&] {
          const auto stored = clips();
          return stored.size() == count && stored.front().text == newest;
        },
        timeout);
  }

  Home home;
  std::unique_ptr<VeskProcess> vesk;
};

TEST_F(ClipboardE2E, ACopyIsRecordedQuicklyAndCopyingItAgainMovesItToTheTop) {
  startVesk();
  copy("alpha");
  QElapsedTimer sinceCopy;
  sinceCopy.start();
  ASSERT_TRUE(waitForClips(1, "alpha", 1500ms)) << vesk->log();
  std::fprintf(stderr, "alpha recorded %lld ms after xclip exited\n",
               static_cast<long long>(sinceCopy.elapsed()));
  const int64_t alphaId = clips().front().id;

  copy("beta");
  ASSERT_TRUE(waitForClips(2, "beta"));
  copy("alpha");
  ASSERT_TRUE(waitForClips(2, "alpha"));
  EXPECT_EQ(clips().front().id, alphaId);
}

TEST_F(ClipboardE2E, APasswordManagersCopyIsNotRecorded) {
  startVesk();
  auto* data = new QMimeData;  // owned by the clipboard
  data->setText("hunter2");
  data->setData("x-kde-passwordManagerHint", "secret");
  QApplication::clipboard()->setMimeData(data);
  pumpUntil([] { return false; }, 1500ms);  // serves the copy to Vesk meanwhile

  copy("after the password");
  ASSERT_TRUE(waitForClips(1, "after the password")) << vesk->log();
}

TEST_F(ClipboardE2E, ACopyMadeWhileAnotherIsSentByteByByteIsRecordedRightAfter) {
  startVesk();
  // Each byte comes well within the time Vesk waits for one, and the transfer never ends.
  const TestSelectionOwner slow({{"UTF8_STRING", TestSelectionOwner::Answer::drip, ""}});
  ASSERT_TRUE(pumpUntil([&] { return slow.chunksSent() >= 2; }, 5s)) << vesk->log();

  copy("made during the slow copy");
  ASSERT_TRUE(waitForClips(1, "made during the slow copy")) << vesk->log();
}

TEST_F(ClipboardE2E, ACopyMadeWhilePausedIsNeverRecorded) {
  std::filesystem::create_directories(home.clipboardFolder());
  std::ofstream(home.clipboardFolder() + "/paused").flush();
  ASSERT_TRUE(vesk->start());
  ASSERT_TRUE(vesk->waitForLog("Watching the clipboard (recording is paused)", 10s)) << vesk->log();

  copy("while paused");
  pumpUntil([] { return false; }, 1500ms);
  EXPECT_TRUE(clips().empty());
}

TEST_F(ClipboardE2E, APNGIsStoredWithItsImageRowAndPreviewFiles) {
  startVesk();
  QImage image(300, 200, QImage::Format_RGB32);
  image.fill(Qt::darkCyan);
  const std::string file = home.root() + "/copied.png";
  ASSERT_TRUE(image.save(QString::fromStdString(file), "PNG"));
  ASSERT_EQ(runProgram(home, {"xclip", "-selection", "clipboard", "-t", "image/png", "-i", file}),
            0);

  ASSERT_TRUE(pumpUntil([&] { return !clips().empty() && clips().front().kind == "image"; }, 5s))
      << vesk->log();
  const std::string id = std::to_string(clips().front().id);
  const std::string images = home.clipboardFolder() + "/images/";
  EXPECT_TRUE(std::filesystem::exists(images + id + ".png"));
  EXPECT_TRUE(std::filesystem::exists(images + id + "-row.png"));
  EXPECT_TRUE(std::filesystem::exists(images + id + "-preview.png"));
}

TEST_F(ClipboardE2E, AHugeCopyIsReadWhileTheMainThreadKeepsAnswering) {
  startVesk();
  std::string huge(20 << 20, 'x');
  std::mt19937 random(7);
  for (char& c : huge) {
    c = static_cast<char>('a' + random() % 26);
  }
  copy(huge);

  // A second start is answered on the main thread; it must keep being answered while the copy
  // is read and stored.
  int answered = 0;
  const bool stored = pumpUntil(
      [&] {
        if (runProgram(home, {VESK_BINARY}) == 0) {
          ++answered;
        }
        const auto stored = clips();
        return !stored.empty() && stored.front().text.size() >= 4096;
      },
      30s);
  ASSERT_TRUE(stored) << vesk->log();
  EXPECT_GE(answered, 1);
  EXPECT_GE(vesk->count("Presenting the launcher"), static_cast<size_t>(answered));
}

TEST_F(ClipboardE2E, PasteNextPastesTheNewestClipThenTheOneBeforeWithoutRecordingThem) {
  startVesk();
  ASSERT_TRUE(vesk->waitForLog("Applied config.toml"));
  copy("first");
  ASSERT_TRUE(waitForClips(1, "first"));
  copy("second");
  ASSERT_TRUE(waitForClips(2, "second"));

  QLineEdit field;
  field.setWindowTitle("vesk paste target");
  field.resize(300, 40);
  field.show();
  field.activateWindow();
  field.setFocus();
  ASSERT_TRUE(pumpUntil([&] { return field.isVisible(); }));
  runProgram(home, {"xdotool", "windowfocus", "--sync", std::to_string(field.winId())});
  ASSERT_TRUE(pumpUntil([&] { return field.hasFocus(); }));

  // Pressed as a person does: the keys stay down a moment, so the hot key's grab is still active
  // when Vesk is ready to paste, and the paste has to wait for it to end.
  const std::vector<std::string> press = {"xdotool", "keydown", "ctrl+alt+v", "sleep",
                                          "0.15",    "keyup",   "v",          "sleep",
                                          "0.1",     "keyup",   "ctrl+alt"};
  runProgram(home, press);
  ASSERT_TRUE(pumpUntil([&] { return field.text() == "second"; }))
      << field.text().toStdString() << vesk->log();
  runProgram(home, press);
  ASSERT_TRUE(pumpUntil([&] { return field.text() == "secondfirst"; }))
      << field.text().toStdString() << vesk->log();

  pumpUntil([] { return false; }, 1200ms);
  const auto stored = clips();
  ASSERT_EQ(stored.size(), 2U);
  EXPECT_EQ(stored.front().text, "second");
}

}  // namespace
}  // namespace vesk::test
