// The clipboard's main-thread side: the recorder over a fake clipboard, the history over a real
// store in a temporary folder, and delivery through fake writer and key presses.

#include <QThread>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include <gtest/gtest.h>

#include "app/base/run_in_background.h"
#include "app/clipboard/clip_deliverer.h"
#include "app/clipboard/clipboard_history.h"
#include "app/clipboard/clipboard_recorder.h"
#include "app/clipboard/paster.h"
#include "core/base/wall_clock.h"
#include "core/clipboard/clipboard_store.h"
#include "platform/linux/qt_image_codec.h"
#include "tests/app/app_test_support.h"
#include "tests/fakes/fake_key_layout.h"
#include "tests/fakes/fake_key_synthesizer.h"
#include "tests/fakes/fake_pasteboard.h"
#include "tests/fakes/fake_pasteboard_writer.h"
#include "tests/fakes/manual_executor.h"

namespace vesk {
namespace {

using test::pumpUntil;

FakePasteboard::Item textItem(const std::string& text) {
  return {{"public.utf8-plain-text", FakePasteboard::bytes(text)}};
}

std::string textOf(const ClipItems& items) {
  for (const auto& representation : items.at(0)) {
    if (representation.type == "public.utf8-plain-text") {
      return {representation.data.begin(), representation.data.end()};
    }
  }
  return {};
}

bool hasType(const ClipItems& items, std::string_view type) {
  for (const auto& representation : items.at(0)) {
    if (representation.type == type) {
      return true;
    }
  }
  return false;
}

class ClipboardTest : public testing::Test {
 protected:
  ClipboardTest()
      : pasteboard(std::make_shared<FakePasteboard>()),
        codec(std::make_shared<QtImageCodec>()),
        store(std::make_shared<ClipboardStore>(folder / "clipboard", codec)),
        history(test::testExecutor(), store, [this] { return clock(); }),
        recorder(test::testExecutor(), pasteboard, store, codec, [this] { return clock(); }) {
    recorder.onRecord = [this](const Clip& clip) { history.recorded(clip); };
    history.load();
    EXPECT_TRUE(pumpUntil([this] { return history.isLoaded(); }));
  }

  void copy(const std::string& text) { pasteboard->copy({textItem(text)}); }

  // One poll, then the event loop until the history holds `count` clips.
  bool pollAndWait(size_t count) {
    recorder.pollNow();
    return pumpUntil([&] { return history.index().count() == count; });
  }

  std::vector<std::string> texts() const {
    std::vector<std::string> result;
    for (const Clip& clip : history.index().clips()) {
      result.push_back(clip.text);
    }
    return result;
  }

  static constexpr double kStart = 1'700'000'000;
  // The system clock until a test fixes "now" (read on the recorder's queue too).
  double clock() const {
    const double fixed = now.load();
    return fixed > 0 ? fixed : secondsSince1970();
  }

  test::TempFolder folder;
  std::atomic<double> now{0};
  std::shared_ptr<FakePasteboard> pasteboard;
  std::shared_ptr<QtImageCodec> codec;
  std::shared_ptr<ClipboardStore> store;
  ClipboardHistory history;
  ClipboardRecorder recorder;
};

TEST_F(ClipboardTest, WhatIsOnTheClipboardAtStartIsNeverRecordedButTheNextCopyIs) {
  copy("before start");
  recorder.start(false);
  recorder.pollNow();
  test::settle();
  EXPECT_EQ(history.index().count(), 0U);

  copy("after start");
  ASSERT_TRUE(pollAndWait(1));
  EXPECT_EQ(texts(), std::vector<std::string>{"after start"});
}

TEST_F(ClipboardTest, ClipsAreStampedAndAgedByTheInjectedClock) {
  now = kStart;
  recorder.start(false);
  copy("stamped");
  ASSERT_TRUE(pollAndWait(1));
  EXPECT_EQ(history.index().clips()[0].copied, kStart);
  now = kStart + 3 * 3600;
  history.setRetention({.maxAge = 2 * 3600});
  EXPECT_TRUE(pumpUntil([this] { return history.index().count() == 0; }));
}

TEST_F(ClipboardTest, ACopyMadeWhilePausedIsNeverRecordedEvenAfterResuming) {
  recorder.start(false);
  recorder.setPaused(true);
  copy("secret while paused");
  recorder.pollNow();
  recorder.setPaused(false);
  recorder.pollNow();
  test::settle();
  EXPECT_EQ(history.index().count(), 0U);

  copy("after resuming");
  ASSERT_TRUE(pollAndWait(1));
  EXPECT_EQ(texts(), std::vector<std::string>{"after resuming"});
}

TEST_F(ClipboardTest, ConcealedAndTransientCopiesAreSkipped) {
  recorder.start(false);
  pasteboard->copy({{{"public.utf8-plain-text", FakePasteboard::bytes("hunter2")},
                     {"org.nspasteboard.ConcealedType", FakePasteboard::bytes("")}}});
  recorder.pollNow();
  pasteboard->copy({{{"public.utf8-plain-text", FakePasteboard::bytes("pasted")},
                     {"org.nspasteboard.TransientType", FakePasteboard::bytes("")}}});
  recorder.pollNow();
  copy("visible");
  ASSERT_TRUE(pollAndWait(1));
  EXPECT_EQ(texts(), std::vector<std::string>{"visible"});
}

TEST_F(ClipboardTest, ARepeatedCopyKeepsItsIdMovesToTheTopAndCounts) {
  recorder.start(false);
  copy("first");
  ASSERT_TRUE(pollAndWait(1));
  const int64_t firstId = history.index().clips().front().id;
  copy("second");
  ASSERT_TRUE(pollAndWait(2));

  copy("first");
  recorder.pollNow();
  ASSERT_TRUE(pumpUntil([&] { return history.copies() == 3; }));

  EXPECT_EQ(texts(), (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(history.index().clips().front().id, firstId);
}

TEST_F(ClipboardTest, TwoCopiesBetweenPollsRecordOnlyTheLater) {
  recorder.start(false);
  copy("overwritten");
  copy("kept");
  ASSERT_TRUE(pollAndWait(1));
  recorder.pollNow();
  test::settle();
  EXPECT_EQ(texts(), std::vector<std::string>{"kept"});
}

TEST_F(ClipboardTest, NoPollingWhileAsleepAndTheCopyMadeMeanwhileIsRecordedAfterWaking) {
  recorder.start(true);
  recorder.setAsleep(true);
  copy("while asleep");
  EXPECT_FALSE(recorder.isPolling());
  test::settle();
  EXPECT_EQ(history.index().count(), 0U);

  recorder.setAsleep(false);
  EXPECT_TRUE(pumpUntil([&] { return history.index().count() == 1; }));
}

TEST_F(ClipboardTest, AClipDeletedWhileItsRepeatedCopyIsStoredStaysDeleted) {
  recorder.start(false);
  copy("doomed");
  ASSERT_TRUE(pollAndWait(1));
  const Clip clip = history.index().clips().front();

  history.deleteClip(clip.id);
  ASSERT_TRUE(pumpUntil([&] { return history.index().count() == 0; }));
  history.recorded(clip);  // the late result of a copy stored before the delete

  EXPECT_EQ(history.index().count(), 0U);
}

TEST_F(ClipboardTest, RetentionIsNotAppliedUntilSetAndThenPrunesOldClips) {
  recorder.start(false);
  copy("old");
  ASSERT_TRUE(pollAndWait(1));
  test::settle();
  EXPECT_EQ(history.index().count(), 1U);

  history.setRetention(ClipboardStore::Retention{std::numeric_limits<int64_t>::max(), 0.0});
  EXPECT_TRUE(pumpUntil([&] { return history.index().count() == 0; }));
}

class DeliveryTest : public ClipboardTest {
 protected:
  DeliveryTest()
      : writer(std::make_shared<FakePasteboardWriter>()),
        keys(std::make_shared<FakeKeySynthesizer>()),
        layout(std::make_shared<FakeKeyLayout>()),
        paster(std::make_shared<Paster>(writer, keys, layout)),
        deliverer(test::testExecutor(), store, paster, history) {
    layout->characters = {{"v", 55}};
    keys->setTrusted(true);
    recorder.start(false);
    for (const char* text : {"one", "two", "three"}) {
      copy(text);
      recorder.pollNow();
      EXPECT_TRUE(pumpUntil([&] {
        return history.index().count() > 0 && history.index().clips().front().text == text;
      }));
    }
  }

  std::shared_ptr<FakePasteboardWriter> writer;
  std::shared_ptr<FakeKeySynthesizer> keys;
  std::shared_ptr<FakeKeyLayout> layout;
  std::shared_ptr<Paster> paster;
  ClipDeliverer deliverer;
};

TEST_F(DeliveryTest, PasteNextPressedThreeTimesPastesThreeClipsInOrderAsTransientWrites) {
  int done = 0;
  for (const Clip& clip : history.index().clips()) {
    deliverer.pasteNext(clip, PasteTarget{7},
                        [&done](bool trusted, const std::optional<Failure>& failure) {
                          EXPECT_TRUE(trusted);
                          EXPECT_FALSE(failure);
                          ++done;
                        });
  }
  ASSERT_TRUE(pumpUntil([&] { return done == 3; }));

  const auto writes = writer->writes();
  ASSERT_EQ(writes.size(), 3U);
  EXPECT_EQ(textOf(writes[0]), "three");
  EXPECT_EQ(textOf(writes[1]), "two");
  EXPECT_EQ(textOf(writes[2]), "one");
  EXPECT_TRUE(hasType(writes[0], Paster::transientType));
  EXPECT_EQ(keys->presses().size(), 3U);
  EXPECT_EQ(keys->presses().front(), (FakeKeySynthesizer::Press{55, 7}));
}

TEST_F(DeliveryTest, PasteNextWithoutTrustWritesNothing) {
  keys->setTrusted(false);
  std::optional<bool> trusted;
  deliverer.pasteNext(
      history.index().clips().front(), PasteTarget{},
      [&trusted](bool allowed, const std::optional<Failure>&) { trusted = allowed; });
  ASSERT_TRUE(pumpUntil([&] { return trusted.has_value(); }));
  EXPECT_FALSE(*trusted);
  EXPECT_TRUE(writer->writes().empty());
  EXPECT_TRUE(keys->presses().empty());
}

TEST_F(DeliveryTest, PastingAsPlainTextMovesTheClipToTheTopWithoutANewClip) {
  const Clip oldest = history.index().clips().back();
  const int64_t copies = history.copies();
  bool delivered = false;
  deliverer.deliver(oldest, ClipDelivery::pastePlainText, PasteTarget{3, true},
                    [&delivered](const std::optional<Failure>& failure) {
                      EXPECT_FALSE(failure);
                      delivered = true;
                    });
  ASSERT_TRUE(pumpUntil([&] { return delivered && history.copies() == copies + 1; }));

  EXPECT_EQ(history.index().count(), 3U);
  EXPECT_EQ(history.index().clips().front().id, oldest.id);
  const auto writes = writer->writes();
  ASSERT_EQ(writes.size(), 1U);
  EXPECT_EQ(writes[0][0][0].type, "public.utf8-plain-text");
  EXPECT_TRUE(hasType(writes[0], Paster::transientType));
  // Into a terminal the paste key has Shift too.
  EXPECT_EQ(keys->presses(), (std::vector<FakeKeySynthesizer::Press>{{55, 3, true}}));
}

TEST_F(DeliveryTest, AFailedWriteIsReportedAndNeverPressesThePasteKey) {
  writer->fail(Failure{"another application holds the clipboard"});
  const Clip clip = history.index().clips().front();
  std::vector<std::optional<Failure>> failures;
  for (const ClipDelivery delivery : {ClipDelivery::paste, ClipDelivery::pastePlainText}) {
    deliverer.deliver(
        clip, delivery, PasteTarget{},
        [&failures](const std::optional<Failure>& failure) { failures.push_back(failure); });
  }
  std::optional<Failure> pasteNextFailure;
  bool pastedNext = false;
  deliverer.pasteNext(clip, PasteTarget{}, [&](bool, const std::optional<Failure>& failure) {
    pasteNextFailure = failure;
    pastedNext = true;
  });
  ASSERT_TRUE(pumpUntil([&] { return failures.size() == 2 && pastedNext; }));

  for (const auto& failure : failures) {
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->description, "another application holds the clipboard");
  }
  ASSERT_TRUE(pasteNextFailure);
  EXPECT_TRUE(keys->presses().empty());
  // A plain-text paste that never reached the clipboard does not move the clip either.
  EXPECT_EQ(history.index().clips().front().id, clip.id);
  EXPECT_EQ(ClipDeliverer::failureTitle(ClipDelivery::pastePlainText), "Couldn't paste the clip");
  EXPECT_EQ(ClipDeliverer::failureTitle(ClipDelivery::copy), "Couldn't copy the clip");
}

TEST_F(ClipboardTest, ADeliveryStillQueuedWhenTheApplicationGoesAwayReachesNothingThatIsGone) {
  recorder.start(false);
  copy("late");
  ASSERT_TRUE(pollAndWait(1));
  const Clip clip = history.index().clips().front();

  // The delivery's work waits until the test runs it, after the deliverer is gone.
  test::ManualExecutor executor;
  bool delivered = false;
  std::optional<Failure> failure;
  {
    // The application's services and its deliverer, gone before the delivery runs.
    auto paster = std::make_shared<Paster>(std::make_shared<FakePasteboardWriter>(),
                                           std::make_shared<FakeKeySynthesizer>(),
                                           std::make_shared<FakeKeyLayout>());
    ClipDeliverer deliverer(executor, store, paster, history);
    deliverer.deliver(clip, ClipDelivery::paste, PasteTarget{},
                      [&](const std::optional<Failure>& result) {
                        failure = result;
                        delivered = true;
                      });
  }
  ASSERT_GT(executor.runAll(), 0);
  EXPECT_TRUE(delivered);
  EXPECT_FALSE(failure);
}

}  // namespace
}  // namespace vesk
