// vesk-tool update-feed: makes the signed feed that announces a release archive to the
// updaters of user-local installs, or prints the public key builds carry (VESK_UPDATE_KEY).

#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "core/base/atomic_file.h"
#include "platform/linux/feed_update_framework_steps.h"
#include "tools/tool.h"

namespace vesk::tool {

namespace {

constexpr const char* kUsage =
    "usage: vesk-tool update-feed --key KEY.pem --archive FILE --url URL --version VERSION\n"
    "                             [--build BUILD] [--out FEED.json]\n"
    "       vesk-tool update-feed --key KEY.pem --public-key\n"
    "KEY.pem is an Ed25519 private key (openssl genpkey -algorithm ed25519); the build defaults\n"
    "to the version.\n";

int usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

}  // namespace

int updateFeed(const Args& args) {
  std::optional<std::string> key;
  std::optional<std::string> archive;
  std::optional<std::string> url;
  std::optional<std::string> version;
  std::optional<std::string> build;
  std::optional<std::string> out;
  bool publicKey = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& flag = args[i];
    if (flag == "--public-key") {
      publicKey = true;
      continue;
    }
    if (i + 1 >= args.size()) {
      return usage();
    }
    const std::string& value = args[++i];
    if (flag == "--key") {
      key = value;
    } else if (flag == "--archive") {
      archive = value;
    } else if (flag == "--url") {
      url = value;
    } else if (flag == "--version") {
      version = value;
    } else if (flag == "--build") {
      build = value;
    } else if (flag == "--out") {
      out = value;
    } else {
      return usage();
    }
  }
  if (!key) {
    return usage();
  }
  if (publicKey) {
    const auto text = FeedUpdateSteps::publicKeyOf(*key);
    if (!text) {
      std::fprintf(stderr, "vesk-tool: %s\n", text.failure().description.c_str());
      return 1;
    }
    std::printf("%s\n", text.value().c_str());
    return 0;
  }
  if (!archive || !url || !version) {
    return usage();
  }
  std::ifstream in(*archive, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "vesk-tool: the archive %s can't be read\n", archive->c_str());
    return 1;
  }
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
  const auto signature = FeedUpdateSteps::sign(*key, bytes);
  if (!signature) {
    std::fprintf(stderr, "vesk-tool: %s\n", signature.failure().description.c_str());
    return 1;
  }
  FeedUpdateSteps::Feed feed{*version, build.value_or(*version), *url, bytes.size(),
                             signature.value()};
  // The feed must read back as the updater reads it.
  if (auto checked = FeedUpdateSteps::Feed::parse(feed.toJson()); !checked || bytes.empty()) {
    std::fprintf(stderr, "vesk-tool: the feed isn't valid: %s\n",
                 checked ? "the archive is empty" : checked.failure().description.c_str());
    return 1;
  }
  if (!out) {
    std::fputs(feed.toJson().c_str(), stdout);
    return 0;
  }
  if (auto written = AtomicFile::write(*out, feed.toJson(), 0644); !written) {
    std::fprintf(stderr, "vesk-tool: %s can't be written: %s\n", out->c_str(),
                 written.failure().description.c_str());
    return 1;
  }
  return 0;
}

}  // namespace vesk::tool
