#include "app/services/updater.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/app/app_test_support.h"
#include "tests/fakes/fake_update_framework.h"

namespace vesk {
namespace {

using test::readFile;
using test::settle;
using test::TempFolder;
using test::writeFile;

constexpr double kNow = 1'000'000;

struct Harness {
  TempFolder folder;
  std::shared_ptr<FakeUpdateFramework> framework = std::make_shared<FakeUpdateFramework>();
  double clock = kNow;
  std::unique_ptr<Updater> updater;
  std::vector<UpdateResult> results;
  std::vector<std::optional<std::string>> ready;

  explicit Harness(const std::string& build = "41") { restart(build); }

  std::string record() const { return folder / "state/vesk/pending-update.json"; }

  void restart(const std::string& build) {
    updater = std::make_unique<Updater>(
        test::testExecutor(), framework,
        Updater::Options{"1.4", build, record(), [this] { return clock; }});
    updater->onResult = [this](const UpdateResult& result) { results.push_back(result); };
    updater->onReady = [this](const std::optional<std::string>& version) {
      ready.push_back(version);
    };
  }

  // A manual check that downloads 1.5 (build 42).
  void downloadUpdate() {
    updater->checkForUpdates(clock);
    ASSERT_TRUE(framework->downloaded({"42", "1.5"}));
    settle();
  }
};

TEST(UpdateResult, NotificationTexts) {
  using Texts = std::pair<std::string, std::string>;
  const auto texts = [](const UpdateResult& result) {
    return Texts(result.title(), result.body());
  };
  EXPECT_EQ(texts(UpdateResult::updated("1.5")), Texts("Vesk updated to 1.5", ""));
  EXPECT_EQ(texts(UpdateResult::failed("1.5", "disk full")),
            Texts("Couldn't update Vesk to 1.5", "disk full"));
  EXPECT_EQ(texts(UpdateResult::ready("1.5")),
            Texts("Vesk 1.5 is ready", "Update Vesk in the launcher restarts into it."));
  EXPECT_EQ(texts(UpdateResult::upToDate("1.4")),
            Texts("Vesk is up to date", "1.4 is the newest version."));
  EXPECT_EQ(texts(UpdateResult::checkFailed("offline")),
            Texts("Couldn't check for updates", "offline"));
}

TEST(Updater, OnlyAManualCheckTellsItFoundNothing) {
  Harness h;
  h.updater->checkIfDue(kNow);
  ASSERT_EQ(h.framework->checks, 1);
  h.framework->notFound();
  EXPECT_TRUE(h.results.empty());

  h.updater->checkForUpdates(kNow + 10);
  ASSERT_EQ(h.framework->checks, 2);
  h.framework->notFound();  // the "no update" error that follows is not a problem
  EXPECT_EQ(h.results, std::vector{UpdateResult::upToDate("1.4")});
  EXPECT_EQ(h.updater->nextCheck(), kNow + 10 + Updater::kCheckInterval);
  EXPECT_EQ(h.framework->starts, 1);
}

TEST(Updater, ChecksOnceADayAndAnHourAfterAnError) {
  Harness h;
  h.updater->checkIfDue(kNow);
  h.framework->notFound();
  h.updater->checkIfDue(kNow + Updater::kCheckInterval - 1);
  EXPECT_EQ(h.framework->checks, 1);
  h.updater->checkIfDue(kNow + Updater::kCheckInterval);
  EXPECT_EQ(h.framework->checks, 2);

  h.clock = kNow + Updater::kCheckInterval + 5;
  h.framework->abort({UpdateFramework::feedUnreachable, "The feed can't be fetched.",
                      "Could not resolve host", true});
  EXPECT_TRUE(h.results.empty());  // nobody asked
  EXPECT_EQ(h.updater->nextCheck(), h.clock + Updater::kRetryInterval);

  // A dismissal during a running session starts no second one.
  h.updater->checkIfDue(h.clock + Updater::kRetryInterval);
  h.updater->checkIfDue(h.clock + 2 * Updater::kRetryInterval + Updater::kCheckInterval);
  EXPECT_EQ(h.framework->checks, 3);
}

TEST(Updater, ADownloadedUpdateWaitsAndInstallsOnRequest) {
  Harness h;
  h.updater->installNow();  // nothing waits yet
  h.downloadUpdate();
  EXPECT_EQ(h.ready, std::vector<std::optional<std::string>>{"1.5"});
  EXPECT_EQ(h.results, std::vector{UpdateResult::ready("1.5")});
  EXPECT_EQ(h.framework->installs, 0);

  // While it waits, no check of either kind runs.
  h.updater->checkForUpdates(kNow + 3 * Updater::kCheckInterval);
  h.updater->checkIfDue(kNow + 3 * Updater::kCheckInterval);
  EXPECT_EQ(h.framework->checks, 1);
  EXPECT_EQ(h.results.size(), 1U);

  h.updater->installNow();
  settle();
  EXPECT_EQ(h.framework->installs, 1);
  EXPECT_EQ(PendingUpdate::take(h.record()), (PendingUpdate{"42", "1.5", true}));
}

TEST(Updater, AnUpdateProblemDropsTheWaitingUpdate) {
  Harness h;
  h.downloadUpdate();
  h.framework->abort({UpdateFramework::installFailed, "The folder is read-only.", "EROFS", true});
  settle();
  EXPECT_EQ(h.ready, (std::vector<std::optional<std::string>>{"1.5", std::nullopt}));
  EXPECT_EQ(h.results.back(), UpdateResult::failed("1.5", "The folder is read-only."));
  EXPECT_FALSE(h.updater->pending());
  EXPECT_FALSE(std::filesystem::exists(h.record()));
  h.updater->installNow();
  settle();
  EXPECT_EQ(h.framework->installs, 0);

  // Reported even when nobody asked, and without a version found it names none.
  h.updater->checkIfDue(kNow + 2 * Updater::kCheckInterval);
  h.framework->abort(
      {UpdateFramework::signatureInvalid, "The signature doesn't match.", std::nullopt, true});
  EXPECT_EQ(h.results.back(),
            UpdateResult::failed("a new version", "The signature doesn't match."));
  EXPECT_EQ(h.results.back().title(), "Couldn't update Vesk to a new version");
}

TEST(Updater, OtherErrorsAreCheckProblemsToldOnlyWhenAsked) {
  Harness h;
  const std::vector<UpdateFramework::Error> errors = {
      {UpdateFramework::installPutOff, "Put off.", std::nullopt, true},
      {UpdateFramework::installCancelled, "Cancelled.", std::nullopt, true},
      {UpdateFramework::feedUnreachable, "The feed can't be fetched.", "Timeout was reached", true},
      {UpdateFramework::noUpdateFound, "Another domain's 1001.", std::nullopt, false},
  };
  for (const UpdateFramework::Error& error : errors) {
    h.updater->checkForUpdates(kNow);
    h.framework->abort(error);
  }
  EXPECT_EQ(h.results, (std::vector{UpdateResult::checkFailed("Put off."),
                                    UpdateResult::checkFailed("Cancelled."),
                                    UpdateResult::checkFailed("Timeout was reached"),
                                    UpdateResult::checkFailed("Another domain's 1001.")}));
  h.updater->checkIfDue(kNow + 2 * Updater::kCheckInterval);
  h.framework->abort(errors[2]);
  EXPECT_EQ(h.results.size(), 4U);
}

TEST(Updater, AFrameworkThatWontStartIsRetriedAtTheNextCheck) {
  Harness h;
  h.framework->startFailure = "The update key isn't valid.";
  h.updater->checkForUpdates(kNow);
  EXPECT_EQ(h.results, std::vector{UpdateResult::checkFailed("The update key isn't valid.")});
  h.framework->startFailure.reset();
  h.updater->checkIfDue(kNow + Updater::kCheckInterval);
  EXPECT_EQ(h.framework->starts, 2);
  EXPECT_EQ(h.framework->checks, 1);
}

TEST(Updater, TheNextStartTellsWhetherTheUpdateTook) {
  Harness h("42");
  ASSERT_TRUE(PendingUpdate::save(h.record(), {"42", "1.5", false}));
  h.updater->reportLastUpdate();
  settle();
  EXPECT_EQ(h.results, std::vector{UpdateResult::updated("1.5")});

  // The record was read once: a further start tells nothing.
  h.restart("42");
  h.updater->reportLastUpdate();
  settle();
  EXPECT_EQ(h.results.size(), 1U);

  // Another build: a failure only when the user had asked for the install.
  ASSERT_TRUE(PendingUpdate::save(h.record(), {"42", "1.5", true}));
  h.restart("41");
  h.updater->reportLastUpdate();
  settle();
  EXPECT_EQ(h.results.back(),
            UpdateResult::failed("1.5", "Vesk is still 1.4, and tries again on its next check."));
  ASSERT_TRUE(PendingUpdate::save(h.record(), {"42", "1.5", false}));
  h.results.clear();
  h.updater->reportLastUpdate();
  settle();
  EXPECT_TRUE(h.results.empty());
  EXPECT_FALSE(std::filesystem::exists(h.record()));
}

TEST(PendingUpdate, RecordsWithoutBuildOrVersionCountAsNone) {
  TempFolder folder;
  const std::string file = folder / "pending.json";
  EXPECT_FALSE(PendingUpdate::take(file));
  for (const char* text : {R"({"version": "1.5"})", R"({"build": "42", "version": 15})", "[1, 2]",
                           "{\"build\": \"4"}) {
    writeFile(file, text);
    EXPECT_FALSE(PendingUpdate::take(file)) << text;
    EXPECT_FALSE(std::filesystem::exists(file)) << text;
  }
  writeFile(file, R"({"build": "42", "version": "1.5"})");
  EXPECT_EQ(PendingUpdate::take(file), (PendingUpdate{"42", "1.5", false}));
}

TEST(Updater, DisabledUpdatesNeverCheck) {
  Harness h;
  h.framework->enabled = false;
  ASSERT_TRUE(PendingUpdate::save(h.record(), {"41", "1.4", true}));
  h.updater->checkIfDue(kNow);
  h.updater->checkForUpdates(kNow);
  h.updater->reportLastUpdate();
  settle();
  EXPECT_EQ(h.framework->starts, 0);
  EXPECT_TRUE(h.results.empty());
  EXPECT_FALSE(readFile(h.record()).empty());
  EXPECT_FALSE(Updater(test::testExecutor(), nullptr, {}).isEnabled());
}

}  // namespace
}  // namespace vesk
