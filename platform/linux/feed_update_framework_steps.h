#pragma once
// The steps of a feed update, each usable on its own (the release tool makes and signs feeds
// with them): the feed document, version order, downloads, Ed25519 signatures, unpacking and
// the user-local install layout.
//
// The feed: {"version": display version, "build": build version, "url": the archive,
// "size": its exact byte count, "signature": base64 Ed25519 signature of the whole archive}.
// The archive is a .tar.gz holding one version folder's contents (bin/vesk, bin/vesk-tool, …).
//
// The install: each version in <prefix>/lib/vesk/<version>/, <prefix>/lib/vesk/current a link
// to the running one, replaced atomically, so an interrupted install leaves the old one.
//
// All functions block and may run on any thread.

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/result.h"

namespace vesk::FeedUpdateSteps {

struct Feed {
  std::string version;
  std::string build;
  std::string url;
  uint64_t size = 0;
  std::string signature;  // base64

  // Failure: what is wrong with the document.
  static Result<Feed> parse(std::string_view text);
  std::string toJson() const;
};

// Dotted versions compared part by part, numbers by value ("1.10" > "1.9"), other parts as
// text; a missing part sorts first ("1.2" < "1.2.1"). Negative, zero or positive.
int compareVersions(std::string_view a, std::string_view b);

// Whether `name` may name a version folder: letters, digits, ".", "_", "+", "-", and neither
// "." nor ".." nor "current".
bool isVersionName(std::string_view name);

struct Transfer {
  long connectSeconds = 20;
  // A transfer that moves no byte for this long is given up.
  long stallSeconds = 30;
  bool allowPlainHttp = false;  // loopback tests only
  // When set and true, the transfer stops at its next progress step.
  const std::atomic<bool>* cancel = nullptr;
};

// Once per process, before any transfer, on one thread.
void initializeNetwork();

// The body at `url`, of at most `maxBytes`. Failure: the network's or server's text.
Result<std::string> fetchText(const std::string& url, size_t maxBytes, const Transfer& options);
// Downloads `url` into `file`, which must end up with exactly `size` bytes; a longer body is cut
// off at once. On failure the file is removed.
Result<void> fetchFile(const std::string& url, const std::string& file, uint64_t size,
                       const Transfer& options);

std::optional<std::vector<uint8_t>> decodeBase64(std::string_view text);
std::string encodeBase64(std::span<const uint8_t> bytes);

// Whether `signature` (base64) is the Ed25519 signature of `data` by `publicKey` (32 raw bytes).
bool verify(std::span<const uint8_t> publicKey, std::span<const uint8_t> data,
            std::string_view signature);
// The base64 signature of `data` by the PEM private key in `keyFile`.
Result<std::string> sign(const std::string& keyFile, std::span<const uint8_t> data);
// The base64 raw public key of the PEM private key in `keyFile`.
Result<std::string> publicKeyOf(const std::string& keyFile);

// Unpacks the .tar.gz `archive` into the new folder `folder`. Entries must be relative, without
// "..", and links must stay inside; the result must hold an executable bin/vesk. On failure
// `folder` is removed. Failure: libarchive's text or the rule broken.
Result<void> unpack(const std::string& archive, const std::string& folder);

// The prefix of a user-local install running `executable` (links resolved), when it is
// <prefix>/lib/vesk/<version>/bin/vesk with <prefix> = `home`/.local or a folder under /opt that
// the user owns; none otherwise.
std::optional<std::string> userLocalPrefix(const std::string& executable, const std::string& home);

// Moves the unpacked `staged` folder to <prefix>/lib/vesk/<version> and points the current link
// at it. The running version stays in place until the link is switched.
Result<void> install(const std::string& prefix, const std::string& version,
                     const std::string& staged);

}  // namespace vesk::FeedUpdateSteps
