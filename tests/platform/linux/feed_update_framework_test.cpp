#include "platform/linux/feed_update_framework.h"

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <archive.h>
#include <archive_entry.h>

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include "app/services/updater.h"
#include "tests/app/app_test_support.h"
#include "tests/platform/linux/loopback_http_server.h"

namespace vesk {
namespace {

namespace fs = std::filesystem;
namespace steps = FeedUpdateSteps;
using test::LoopbackHttpServer;
using test::pumpUntil;
using test::readFile;
using test::TempFolder;
using test::writeFile;

struct Entry {
  Entry(std::string name, std::string content, mode_t type = AE_IFREG, std::string linkTarget = {})
      : name(std::move(name)),
        content(std::move(content)),
        type(type),
        linkTarget(std::move(linkTarget)) {}

  std::string name;
  std::string content;
  mode_t type;
  std::string linkTarget;
};

// A .tar.gz with executable files, folders and links as given.
std::string tarGz(const std::vector<Entry>& entries) {
  std::string bytes;
  archive* out = archive_write_new();
  archive_write_add_filter_gzip(out);
  archive_write_set_format_pax_restricted(out);
  archive_write_set_bytes_in_last_block(out, 1);  // no padding: a cut archive is cut
  archive_write_open(
      out, &bytes, nullptr,
      [](archive*, void* user, const void* data, size_t size) -> la_ssize_t {
        static_cast<std::string*>(user)->append(static_cast<const char*>(data), size);
        return static_cast<la_ssize_t>(size);
      },
      nullptr);
  for (const Entry& item : entries) {
    archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, item.name.c_str());
    archive_entry_set_filetype(entry, item.type);
    archive_entry_set_perm(entry, 0755);
    archive_entry_set_size(entry, static_cast<la_int64_t>(item.content.size()));
    if (item.type == AE_IFLNK) {
      archive_entry_set_symlink(entry, item.linkTarget.c_str());
    }
    archive_write_header(out, entry);
    archive_write_data(out, item.content.data(), item.content.size());
    archive_entry_free(entry);
  }
  archive_write_close(out);
  archive_write_free(out);
  return bytes;
}

// A new Ed25519 private key in PEM at `path`.
void makeKey(const std::string& path) {
  EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519");
  ASSERT_NE(key, nullptr);
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(PEM_write_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr), 1);
  std::fclose(file);
  EVP_PKEY_free(key);
}

std::span<const uint8_t> bytesOf(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

const std::string kNewProgram = "#!/bin/sh\necho 1.5\n";

// A user-local install of 1.4 under a private home, a release key, and a server for the feed.
class FeedUpdates : public testing::Test {
 protected:
  void SetUp() override {
    prefix = folder / "home/.local";
    writeFile(prefix + "/lib/vesk/1.4/bin/vesk", "#!/bin/sh\necho 1.4\n");
    fs::permissions(prefix + "/lib/vesk/1.4/bin/vesk", fs::perms::owner_all);
    fs::create_directory_symlink("1.4", prefix + "/lib/vesk/current");
    fs::create_directories(prefix + "/bin");
    fs::create_symlink("../lib/vesk/current/bin/vesk", prefix + "/bin/vesk");
    makeKey(folder / "key.pem");
    makeKey(folder / "other.pem");
    archive = release("1.5");
  }

  // The archive of a release of `build`.
  static std::string release(const std::string& build) {
    return tarGz({{"bin", "", AE_IFDIR},
                  {"bin/vesk", kNewProgram},
                  {"bin/vesk-tool", "#!/bin/sh\n"},
                  {"bin/vesk-link", "", AE_IFLNK, "vesk"},
                  {"build", build + "\n"}});
  }

  // The feed document announcing `feed`, signed with `key`.
  std::string signedFeed(const steps::Feed& feed, const std::string& key = "key.pem") {
    auto document = feed.signedJson(folder / key);
    EXPECT_TRUE(document) << document.failure().description;
    return document ? document.value() : "";
  }

  // `bytes` served at /vesk-1.5.tar.gz and the feed for them, announced as `build` and signed
  // with `key`.
  void publish(const std::string& bytes, const std::string& key = "key.pem",
               std::optional<uint64_t> size = std::nullopt, const std::string& build = "1.5") {
    const steps::Feed feed{"1.5", build, server.url("/vesk-1.5.tar.gz"),
                           size.value_or(bytes.size()), steps::sha256Hex(bytesOf(bytes))};
    server.serve("/feed.json", {signedFeed(feed, key), std::nullopt, std::nullopt, std::nullopt});
    server.serve("/vesk-1.5.tar.gz", {bytes, std::nullopt, std::nullopt, std::nullopt});
  }

  FeedUpdateFramework::Options options() {
    auto key = steps::publicKeyOf(folder / "key.pem");
    EXPECT_TRUE(key);
    FeedUpdateFramework::Options options;
    options.feedUrl = server.url("/feed.json");
    options.publicKey = key ? key.value() : "";
    options.runningBuild = "1.4";
    options.executable = fs::canonical(prefix + "/bin/vesk").string();
    options.home = folder / "home";
    options.cacheFolder = folder / "cache/vesk/updates";
    options.stateFile = folder / "state/vesk/update-state.json";
    options.transfer = transfer;
    options.relaunch = [this](const std::string& program) { relaunched.push_back(program); };
    return options;
  }

  // A fresh start of Vesk at `build`, over the framework.
  void start(const std::string& build = "1.4") {
    updater.reset();
    framework = std::make_shared<FeedUpdateFramework>(options());
    updater = std::make_unique<Updater>(
        test::testExecutor(), framework,
        Updater::Options{build, build, folder / "state/vesk/pending-update.json"});
    updater->onResult = [this](const UpdateResult& result) { results.push_back(result); };
  }

  // The outcome of a check the user asked for.
  UpdateResult checkNow() {
    const size_t before = results.size();
    updater->checkForUpdates(1e9);
    EXPECT_TRUE(pumpUntil([&] { return results.size() > before; }, std::chrono::seconds(20)));
    return results.size() > before ? results.back() : UpdateResult::checkFailed("no outcome");
  }

  std::string current() const { return fs::read_symlink(prefix + "/lib/vesk/current").string(); }

  // What lib/vesk holds besides `current`.
  std::vector<std::string> versions() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(prefix + "/lib/vesk")) {
      if (entry.path().filename() != "current") {
        names.push_back(entry.path().filename().string());
      }
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  TempFolder folder;
  steps::Transfer transfer{5, 1, true};
  std::string prefix;
  std::string archive;
  LoopbackHttpServer server;
  std::shared_ptr<FeedUpdateFramework> framework;
  std::unique_ptr<Updater> updater;
  std::vector<UpdateResult> results;
  std::vector<std::string> relaunched;
};

TEST_F(FeedUpdates, ANewerVersionIsOfferedInstalledAndReportedAfterTheRestart) {
  server.serve("/feed.json", {signedFeed({"1.4", "1.4", server.url("/x"), 1, std::string(64, '0')}),
                              std::nullopt, std::nullopt, std::nullopt});
  writeFile(prefix + "/lib/vesk/1.2/bin/vesk", "#!/bin/sh\necho 1.2\n");  // an older install
  start();
  ASSERT_TRUE(updater->isEnabled());
  EXPECT_EQ(checkNow(), UpdateResult::upToDate("1.4"));

  publish(archive);
  EXPECT_EQ(checkNow(), UpdateResult::ready("1.5"));
  EXPECT_EQ(current(), "1.4");  // nothing switched before the user asks
  EXPECT_TRUE(fs::is_empty(folder / "cache/vesk/updates"));

  updater->installNow();
  ASSERT_TRUE(pumpUntil([&] { return !relaunched.empty(); }));
  EXPECT_EQ(relaunched, std::vector<std::string>{prefix + "/bin/vesk"});
  EXPECT_EQ(current(), "1.5");
  EXPECT_EQ(readFile(prefix + "/bin/vesk"), kNewProgram);
  EXPECT_EQ(fs::read_symlink(prefix + "/lib/vesk/1.5/bin/vesk-link"), "vesk");
  // The new one and the running one stay.
  EXPECT_EQ(versions(), (std::vector<std::string>{"1.4", "1.5"}));

  start("1.5");
  updater->reportLastUpdate();
  ASSERT_TRUE(pumpUntil([&] { return results.size() == 3; }));
  EXPECT_EQ(results.back().title(), "Vesk updated to 1.5");
  EXPECT_EQ(results.back().body(), "");
}

TEST_F(FeedUpdates, AWaitingUpdateIsInstalledOnQuitWithoutARelaunch) {
  publish(archive);
  start();
  ASSERT_EQ(checkNow(), UpdateResult::ready("1.5"));
  updater->applicationWillTerminate();
  EXPECT_EQ(current(), "1.5");
  EXPECT_TRUE(relaunched.empty());
}

TEST_F(FeedUpdates, ABrokenUpdateIsReportedAndLeavesTheInstalledVersion) {
  const std::string truncated = archive.substr(0, archive.size() / 2);
  const std::string outside = tarGz({{"bin/vesk", kNewProgram}, {"../escape", "x"}});
  const std::string escapingLink = tarGz({{"bin/vesk", "", AE_IFLNK, "../../../1.4/bin/vesk"}});
  const std::string noProgram = tarGz({{"bin/vesk-tool", "#!/bin/sh\n"}});
  struct Case {
    const char* name;
    std::function<void()> serve;
    const char* reason;  // a part of the notification's body
  };
  const std::string otherBuild = release("1.3");
  const std::string endless(1 << 20, 'x');
  const std::vector<Case> cases = {
      {"archive unlike the signed digest",
       [&] {
         publish(archive);
         std::string changed = archive;
         changed[changed.size() / 2] ^= 1;
         server.serve("/vesk-1.5.tar.gz", {changed, std::nullopt, std::nullopt, std::nullopt});
       },
       "isn't the archive Vesk's key signed"},
      {"an old release signed as the new build", [&] { publish(otherBuild); },
       "it is build 1.3, not 1.5"},
      {"no build in the archive",
       [&] {
         publish(tarGz({{"bin/vesk", kNewProgram}}));
       },
       "names no build"},
      {"truncated archive", [&] { publish(truncated); }, "can't be unpacked"},
      {"feed claims fewer bytes", [&] { publish(archive, "key.pem", archive.size() - 10); },
       "more than the"},
      {"feed claims more bytes",
       [&] {
         publish(archive, "key.pem", archive.size() + 10);
         server.serve("/vesk-1.5.tar.gz", {archive, archive.size(), std::nullopt, std::nullopt});
       },
       "ended after"},
      {"server stops answering",
       [&] {
         publish(archive);
         // One byte, then silence: more would lift curl's speed average above the floor for
         // seconds.
         server.serve("/vesk-1.5.tar.gz", {archive, std::nullopt, 1, std::nullopt});
       },
       "The download of Vesk 1.5 failed"},
      {"server trickles below the minimum rate",
       [&] {
         publish(endless);
         server.serve("/vesk-1.5.tar.gz", {endless, std::nullopt, std::nullopt, 50});
         transfer.minimumRate = 1000;
       },
       "less than 1000 bytes a second"},
      {"server keeps the minimum rate past the deadline",
       [&] {
         publish(endless);
         server.serve("/vesk-1.5.tar.gz", {endless, std::nullopt, std::nullopt, 50});
         transfer.minimumRate = 1;
         transfer.stallSeconds = 60;
         transfer.deadlineSeconds = 2;
       },
       "took longer than 2 seconds"},
      {"entry outside the folder", [&] { publish(outside); }, "outside the version folder"},
      {"link outside the folder", [&] { publish(escapingLink); }, "points outside"},
      {"no program", [&] { publish(noProgram); }, "no program bin/vesk"},
  };
  for (const Case& broken : cases) {
    SCOPED_TRACE(broken.name);
    transfer = {5, 1, true};
    broken.serve();
    start();
    const UpdateResult result = checkNow();
    EXPECT_EQ(result.title(), "Couldn't update Vesk to 1.5");
    EXPECT_NE(result.body().find(broken.reason), std::string::npos) << result.body();
    EXPECT_EQ(current(), "1.4");
    EXPECT_EQ(versions(), std::vector<std::string>{"1.4"});
    EXPECT_TRUE(relaunched.empty());
  }
}

TEST_F(FeedUpdates, AFeedOnlyTheKeyCouldHaveMadeOfferingANewerBuildThanEverInstalledIsUsed) {
  const auto checkFails = [&](const std::string& reason) {
    const UpdateResult result = checkNow();
    EXPECT_EQ(result.title(), "Couldn't check for updates");
    EXPECT_NE(result.body().find(reason), std::string::npos) << result.body();
    EXPECT_EQ(current(), "1.4");
    EXPECT_EQ(versions(), std::vector<std::string>{"1.4"});
  };
  start();
  {
    SCOPED_TRACE("signed with another key");
    publish(archive, "other.pem");
    checkFails("isn't signed with Vesk's key");
  }
  {
    SCOPED_TRACE("a manifest changed after signing");
    const std::string old = release("1.3");
    server.serve("/vesk-1.5.tar.gz", {old, std::nullopt, std::nullopt, std::nullopt});
    std::string document = signedFeed(
        {"1.3", "1.3", server.url("/vesk-1.5.tar.gz"), old.size(), steps::sha256Hex(bytesOf(old))});
    document.replace(document.find("\\\"1.3\\\""), 7, "\\\"9.9\\\"");
    server.serve("/feed.json", {document, std::nullopt, std::nullopt, std::nullopt});
    checkFails("isn't signed with Vesk's key");
  }
  {
    SCOPED_TRACE("an old signed feed relabelled outside the signed part");
    const std::string old = release("1.3");
    std::string document = signedFeed(
        {"1.3", "1.3", server.url("/vesk-1.5.tar.gz"), old.size(), steps::sha256Hex(bytesOf(old))});
    document.insert(1, "\"build\": \"9.9\", \"version\": \"9.9\",");
    server.serve("/feed.json", {document, std::nullopt, std::nullopt, std::nullopt});
    checkFails("offers build 1.3, which isn't newer than build 1.4");
  }

  // Once 1.5 is installed, a copy of 1.4 (put back by hand) is never offered 1.5 again.
  publish(archive);
  ASSERT_EQ(checkNow(), UpdateResult::ready("1.5"));
  updater->applicationWillTerminate();
  ASSERT_EQ(current(), "1.5");
  EXPECT_EQ(FeedUpdateFramework::newestInstalled(folder / "state/vesk/update-state.json"), "1.5");
  fs::remove(prefix + "/lib/vesk/current");
  fs::create_directory_symlink("1.4", prefix + "/lib/vesk/current");
  start();
  const UpdateResult again = checkNow();
  EXPECT_EQ(again.title(), "Couldn't check for updates");
  EXPECT_NE(
      again.body().find("offers build 1.5, which isn't newer than build 1.5 installed before"),
      std::string::npos)
      << again.body();
  EXPECT_EQ(current(), "1.4");
}

TEST_F(FeedUpdates, AFeedThatCantBeReadIsACheckProblem) {
  start();
  server.serve("/feed.json", {"{\"version\": \"1.5\"}", std::nullopt, std::nullopt, std::nullopt});
  EXPECT_EQ(checkNow().title(), "Couldn't check for updates");
  server.serve("/feed.json", {"{}", std::nullopt, 0, std::nullopt});  // stops answering
  const UpdateResult stalled = checkNow();
  EXPECT_EQ(stalled.title(), "Couldn't check for updates");
  EXPECT_FALSE(stalled.body().empty());
}

TEST_F(FeedUpdates, OnlyAUserLocalInstallWithAKeyAndAFeedUpdatesItself) {
  EXPECT_TRUE(FeedUpdateFramework(options()).isEnabled());
  auto noKey = options();
  noKey.publicKey.clear();
  EXPECT_FALSE(FeedUpdateFramework(noKey).isEnabled());
  auto noFeed = options();
  noFeed.feedUrl.clear();
  EXPECT_FALSE(FeedUpdateFramework(noFeed).isEnabled());
  auto buildTree = options();
  buildTree.executable = folder / "build/app/vesk";
  EXPECT_FALSE(FeedUpdateFramework(buildTree).isEnabled());
  EXPECT_FALSE(steps::userLocalPrefix("/usr/lib/vesk/1.4/bin/vesk", folder / "home"));
  EXPECT_FALSE(steps::userLocalPrefix("/opt/vesk/lib/vesk/1.4/bin/vesk", folder / "home"));

  // A plain http feed, or a key that isn't one, won't start outside the tests.
  auto plain = options();
  plain.transfer.allowPlainHttp = false;
  EXPECT_FALSE(FeedUpdateFramework(plain).start({}));
  auto badKey = options();
  badKey.publicKey = "c2hvcnQ=";
  EXPECT_FALSE(FeedUpdateFramework(badKey).start({}));
}

TEST(FeedUpdateSteps, VersionsCompareByTheirNumbers) {
  EXPECT_LT(steps::compareVersions("1.9", "1.10"), 0);
  EXPECT_LT(steps::compareVersions("1.2", "1.2.1"), 0);
  EXPECT_EQ(steps::compareVersions("1.2.0", "1.2.0"), 0);
  EXPECT_GT(steps::compareVersions("2", "1.99"), 0);
  EXPECT_GT(steps::compareVersions("1.2-rc2", "1.2-rc1"), 0);
  EXPECT_FALSE(steps::isVersionName(".."));
  EXPECT_FALSE(steps::isVersionName("current"));
  EXPECT_FALSE(steps::isVersionName("1.5/../x"));
  EXPECT_TRUE(steps::isVersionName("1.5.0-rc1"));
}

}  // namespace
}  // namespace vesk
