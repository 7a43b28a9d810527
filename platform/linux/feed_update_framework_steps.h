#pragma once
// The steps of a feed update, each usable on its own (the release tool makes and signs feeds
// with them): the feed document, version order, downloads, Ed25519 signatures, unpacking and
// the user-local install layout.
//
// The feed is signed as a whole: {"manifest": text, "signature": base64 Ed25519 signature of
// that text's bytes}, the manifest itself a JSON object {"version": display version, "build":
// build version, "url": the archive, "size": its exact byte count, "sha256": hex digest of the
// archive}. Nothing outside the signed text is read, so a feed host can neither relabel an old
// archive nor point at another. The archive is a .tar.gz holding one version folder's contents
// (bin/vesk, bin/vesk-tool, …, and the text file `build` naming that version's build).
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
  std::string sha256;  // lowercase hex

  // The manifest text that is signed.
  std::string manifest() const;
  // The feed document: the manifest and its signature by the PEM private key in `keyFile`.
  Result<std::string> signedJson(const std::string& keyFile) const;
  // The manifest of a feed document whose signature `publicKey` (32 raw bytes) verifies.
  // Failure: what is wrong with the document (a bad signature included).
  static Result<Feed> parse(std::string_view text, std::span<const uint8_t> publicKey);
};

// Dotted versions compared part by part, numbers by value ("1.10" > "1.9"), other parts as
// text; a missing part sorts first ("1.2" < "1.2.1"). Negative, zero or positive.
int compareVersions(std::string_view a, std::string_view b);

// Whether `name` may name a version folder: letters, digits, ".", "_", "+", "-", and neither
// "." nor ".." nor "current".
bool isVersionName(std::string_view name);

struct Transfer {
  long connectSeconds = 20;
  // A transfer slower than `minimumRate` bytes a second over this many seconds is given up.
  long stallSeconds = 30;
  bool allowPlainHttp = false;  // loopback tests only
  // When set and true, the transfer stops at its next progress step.
  const std::atomic<bool>* cancel = nullptr;
  long minimumRate = 1024;
  // The whole transfer, connection included, ends by then.
  long deadlineSeconds = 1800;
};

// Once per process, before any transfer, on one thread.
void initializeNetwork();

// The body at `url`, of at most `maxBytes`. Failure: the network's or server's text.
Result<std::string> fetchText(const std::string& url, size_t maxBytes, const Transfer& options);
// Downloads `url` into the empty file open as `fd`, which must end up with exactly `size` bytes;
// a longer body is cut off at once. Answers the hex SHA-256 of the bytes written, taken as they
// arrive: nothing is held in memory. Failure: what went wrong.
Result<std::string> fetchFile(const std::string& url, int fd, uint64_t size,
                              const Transfer& options);
// A new file with no name in `folder`, open for reading and writing; -1 when none can be made.
int openNamelessFile(const std::string& folder);

// The lowercase hex SHA-256 of `data`.
std::string sha256Hex(std::span<const uint8_t> data);

std::optional<std::vector<uint8_t>> decodeBase64(std::string_view text);
std::string encodeBase64(std::span<const uint8_t> bytes);

// Whether `signature` (base64) is the Ed25519 signature of `data` by `publicKey` (32 raw bytes).
bool verify(std::span<const uint8_t> publicKey, std::span<const uint8_t> data,
            std::string_view signature);
// The base64 signature of `data` by the PEM private key in `keyFile`.
Result<std::string> sign(const std::string& keyFile, std::span<const uint8_t> data);
// The base64 raw public key of the PEM private key in `keyFile`.
Result<std::string> publicKeyOf(const std::string& keyFile);

// Unpacks the .tar.gz open as `fd` (read from its start) into the new folder `folder`. The bytes
// read are digested again and must still be `sha256` (hex). Entries must be relative, without
// "..", and links must stay inside; the result must hold an executable bin/vesk and a `build`
// file. On failure `folder` is removed. Failure: libarchive's text or the rule broken.
Result<void> unpack(int fd, const std::string& folder, std::string_view sha256);
// The build an unpacked version folder names in its `build` file; none without one.
std::optional<std::string> buildOf(const std::string& folder);
// The build named by the `build` file in the .tar.gz at `archive`. Failure: why there is none.
Result<std::string> buildInArchive(const std::string& archive);

// The prefix of a user-local install running `executable` (links resolved), when it is
// <prefix>/lib/vesk/<version>/bin/vesk with <prefix> = `home`/.local or a folder under /opt that
// the user owns; none otherwise.
std::optional<std::string> userLocalPrefix(const std::string& executable, const std::string& home);

// Moves the unpacked `staged` folder to <prefix>/lib/vesk/<version> and points the current link
// at it. The running version stays in place until the link is switched.
Result<void> install(const std::string& prefix, const std::string& version,
                     const std::string& staged);
// Removes every version folder under <prefix>/lib/vesk except `current`'s and `keep`'s, and any
// staged leftovers. Failure: the first folder that stayed.
Result<void> removeOtherVersions(const std::string& prefix, const std::string& keep);

}  // namespace vesk::FeedUpdateSteps
