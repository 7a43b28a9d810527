#include "core/clipboard/clip_hash.h"

#include <memory>
#include <span>
#include <string_view>

#include <openssl/evp.h>

namespace vesk {
namespace {

void feed(EVP_MD_CTX* context, std::span<const uint8_t> bytes) {
  const auto length = static_cast<uint64_t>(bytes.size());
  uint8_t prefix[8];
  for (int i = 0; i < 8; ++i) {
    prefix[i] = static_cast<uint8_t>(length >> (8 * i));
  }
  EVP_DigestUpdate(context, prefix, sizeof prefix);
  EVP_DigestUpdate(context, bytes.data(), bytes.size());
}

void feed(EVP_MD_CTX* context, std::string_view text) {
  feed(context, {reinterpret_cast<const uint8_t*>(text.data()), text.size()});
}

struct DigestFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

}  // namespace

std::array<uint8_t, 32> clipHash(const ClipContent& content) {
  const std::unique_ptr<EVP_MD_CTX, DigestFree> context(EVP_MD_CTX_new());
  std::array<uint8_t, 32> digest{};
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
    return digest;
  }
  feed(context.get(), Clip::rawValue(content.kind));
  for (const auto& item : content.items) {
    feed(context.get(), std::string_view("item"));
    for (const auto& representation : item) {
      feed(context.get(), std::string_view(representation.type));
      feed(context.get(), std::span<const uint8_t>(representation.data));
    }
  }
  if (content.image) {
    feed(context.get(), std::span<const uint8_t>(*content.image));
  }
  unsigned length = 0;
  EVP_DigestFinal_ex(context.get(), digest.data(), &length);
  return digest;
}

}  // namespace vesk
