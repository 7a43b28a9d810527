#include "app/base/log.h"

#include <cstdio>
#include <string>

#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/app/app_test_support.h"

namespace vesk {
namespace {

TEST(Log, ALongLineIsCutAtACharacterAndSaysHowMuchWasCut) {
  const std::string marker = "… [998000 more bytes]";
  const std::string ascii(1'000'000, 'n');
  const std::string cut = Log::clipped(ascii);
  EXPECT_EQ(cut.size(), Log::kMaxLineBytes + marker.size());
  EXPECT_TRUE(cut.ends_with(marker)) << cut.substr(Log::kMaxLineBytes);

  // "é" is two bytes: a cut at an odd byte keeps the whole characters before it.
  std::string text = "x";
  for (int i = 0; i < 1500; ++i) {
    text += "é";
  }
  EXPECT_TRUE(Log::clipped(text) == text.substr(0, Log::kMaxLineBytes - 1) + "… [1002 more bytes]");

  const std::string fits(Log::kMaxLineBytes, 'n');
  EXPECT_EQ(Log::clipped(fits), fits);
}

// What reaches standard error, which carries every line when no journal runs.
TEST(Log, AHugeArgumentDoesNotMakeAHugeLine) {
  test::TempFolder folder;
  const std::string path = folder / "stderr";
  std::fflush(stderr);
  const int saved = ::dup(STDERR_FILENO);
  ASSERT_NE(std::freopen(path.c_str(), "w", stderr), nullptr);
  Log::app.error("Couldn't read %s", std::string(1'000'000, 'n').c_str());
  std::fflush(stderr);
  ::dup2(saved, STDERR_FILENO);
  ::close(saved);
  const std::string written = test::readFile(path);
  if (written.empty()) {
    GTEST_SKIP() << "the line went to the journal only";
  }
  EXPECT_LT(written.size(), Log::kMaxLineBytes + 100);
  EXPECT_NE(written.find("more bytes]"), std::string::npos);
}

}  // namespace
}  // namespace vesk
