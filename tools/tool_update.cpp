// vesk-tool update-feed: makes the signed feed that announces a release archive to the
// updaters of user-local installs, or prints the public key builds carry (VESK_UPDATE_KEY).
// The whole manifest is signed: version, build, address, size and the archive's SHA-256.

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
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
    "KEY.pem is an Ed25519 private key (openssl genpkey -algorithm ed25519); the build is the\n"
    "one the archive's build file names, and --build must agree with it.\n";

int usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

struct Request {
  std::optional<std::string> key;
  std::optional<std::string> archive;
  std::optional<std::string> url;
  std::optional<std::string> version;
  std::optional<std::string> build;
  std::optional<std::string> out;
  bool publicKey = false;
};

// None for arguments that don't fit the usage.
std::optional<Request> parse(const Args& args) {
  Request request;
  const std::array<std::pair<const char*, std::optional<std::string>*>, 6> flags = {
      {{"--key", &request.key},
       {"--archive", &request.archive},
       {"--url", &request.url},
       {"--version", &request.version},
       {"--build", &request.build},
       {"--out", &request.out}}};
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--public-key") {
      request.publicKey = true;
      continue;
    }
    const auto* flag = std::find_if(flags.begin(), flags.end(),
                                    [&](const auto& entry) { return args[i] == entry.first; });
    if (flag == flags.end() || i + 1 >= args.size()) {
      return std::nullopt;
    }
    *flag->second = args[++i];
  }
  if (!request.key) {
    return std::nullopt;
  }
  return request;
}

int printPublicKey(const std::string& keyFile) {
  const auto text = FeedUpdateSteps::publicKeyOf(keyFile);
  if (!text) {
    std::fprintf(stderr, "vesk-tool: %s\n", text.failure().description.c_str());
    return 1;
  }
  std::printf("%s\n", text.value().c_str());
  return 0;
}

}  // namespace

int updateFeed(const Args& args) {
  const auto parsed = parse(args);
  if (!parsed) {
    return usage();
  }
  const auto& [key, archive, url, version, build, out, publicKey] = *parsed;
  if (publicKey) {
    return printPublicKey(*key);
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
  const auto named = FeedUpdateSteps::buildInArchive(*archive);
  if (!named) {
    std::fprintf(stderr, "vesk-tool: the archive %s names no build: %s\n", archive->c_str(),
                 named.failure().description.c_str());
    return 1;
  }
  if (build && *build != named.value()) {
    std::fprintf(stderr, "vesk-tool: the archive is build %s, not %s\n", named.value().c_str(),
                 build->c_str());
    return 1;
  }
  const FeedUpdateSteps::Feed feed{*version, named.value(), *url, bytes.size(),
                                   FeedUpdateSteps::sha256Hex(bytes)};
  const auto document = feed.signedJson(*key);
  if (!document) {
    std::fprintf(stderr, "vesk-tool: %s\n", document.failure().description.c_str());
    return 1;
  }
  // The feed must read back as the updater reads it.
  const auto releaseKey = FeedUpdateSteps::publicKeyOf(*key);
  const auto raw = releaseKey ? FeedUpdateSteps::decodeBase64(releaseKey.value()) : std::nullopt;
  if (auto checked =
          FeedUpdateSteps::Feed::parse(document.value(), raw.value_or(std::vector<uint8_t>{}));
      !checked || bytes.empty()) {
    std::fprintf(stderr, "vesk-tool: the feed isn't valid: %s\n",
                 checked ? "the archive is empty" : checked.failure().description.c_str());
    return 1;
  }
  if (!out) {
    std::fputs(document.value().c_str(), stdout);
    return 0;
  }
  if (auto written = AtomicFile::write(*out, document.value(), 0644); !written) {
    std::fprintf(stderr, "vesk-tool: %s can't be written: %s\n", out->c_str(),
                 written.failure().description.c_str());
    return 1;
  }
  return 0;
}

}  // namespace vesk::tool
