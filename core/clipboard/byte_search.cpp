#include "core/clipboard/byte_search.h"

#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace vesk::ByteSearch {
namespace {

// Terms are short: a loop beats a call to memcmp.
bool sameBytes(const char* a, const uint8_t* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (static_cast<uint8_t>(a[i]) != b[i]) {
      return false;
    }
  }
  return true;
}

// Each scan compares the term's first and last bytes at many positions at once and checks
// the rest only where both agree. It starts at `i`, stops before the positions a full vector
// can't cover, and gives the position it stopped at, or none (npos) when it found the term.
constexpr size_t kFound = static_cast<size_t>(-1);

#if defined(__x86_64__)
__attribute__((target("avx2"))) size_t scan32(const char* h, size_t last, size_t i,
                                              std::span<const uint8_t> needle) {
  const size_t n = needle.size();
  const __m256i first = _mm256_set1_epi8(static_cast<char>(needle[0]));
  const __m256i end = _mm256_set1_epi8(static_cast<char>(needle[n - 1]));
  for (; i + 32 <= last + 1; i += 32) {
    const __m256i starts = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h + i));
    const __m256i ends = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h + i + n - 1));
    auto candidates = static_cast<uint32_t>(_mm256_movemask_epi8(
        _mm256_and_si256(_mm256_cmpeq_epi8(starts, first), _mm256_cmpeq_epi8(ends, end))));
    while (candidates != 0) {
      const auto at = static_cast<size_t>(__builtin_ctz(candidates));
      if (sameBytes(h + i + at + 1, needle.data() + 1, n - 2)) {
        return kFound;
      }
      candidates &= candidates - 1;
    }
  }
  return i;
}

size_t scan16(const char* h, size_t last, size_t i, std::span<const uint8_t> needle) {
  const size_t n = needle.size();
  const __m128i first = _mm_set1_epi8(static_cast<char>(needle[0]));
  const __m128i end = _mm_set1_epi8(static_cast<char>(needle[n - 1]));
  for (; i + 16 <= last + 1; i += 16) {
    const __m128i starts = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + i));
    const __m128i ends = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + i + n - 1));
    auto candidates = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(starts, first), _mm_cmpeq_epi8(ends, end))));
    while (candidates != 0) {
      const auto at = static_cast<size_t>(__builtin_ctz(candidates));
      if (sameBytes(h + i + at + 1, needle.data() + 1, n - 2)) {
        return kFound;
      }
      candidates &= candidates - 1;
    }
  }
  return i;
}

// The padded scan also covers the last positions: a vector may reach up to 31 bytes past the
// haystack, and the candidates past `last` are masked off. They compare a middle byte of
// the term as well: common first and last letters ("t" and "s" of "tears") agree often enough
// in text that checking the rest of the term byte by byte would dominate.
__attribute__((target("avx2"))) bool padded32(const char* h, size_t last,
                                              std::span<const uint8_t> needle) {
  const size_t n = needle.size();
  const size_t mid = n / 2;
  const __m256i first = _mm256_set1_epi8(static_cast<char>(needle[0]));
  const __m256i middle = _mm256_set1_epi8(static_cast<char>(needle[mid]));
  const __m256i end = _mm256_set1_epi8(static_cast<char>(needle[n - 1]));
  for (size_t i = 0; i <= last; i += 32) {
    const __m256i starts = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h + i));
    const __m256i middles = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h + i + mid));
    const __m256i ends = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h + i + n - 1));
    auto candidates = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_and_si256(
        _mm256_and_si256(_mm256_cmpeq_epi8(starts, first), _mm256_cmpeq_epi8(middles, middle)),
        _mm256_cmpeq_epi8(ends, end))));
    if (last - i < 31) {
      candidates &= (uint32_t{1} << (last - i + 1)) - 1;
    }
    while (candidates != 0) {
      const auto at = static_cast<size_t>(__builtin_ctz(candidates));
      if (sameBytes(h + i + at + 1, needle.data() + 1, n - 2)) {
        return true;
      }
      candidates &= candidates - 1;
    }
  }
  return false;
}

bool hasAVX2() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return has;
}
#endif

}  // namespace

bool contains(std::string_view haystack, std::span<const uint8_t> needle) {
  const size_t n = needle.size();
  if (n == 0) {
    return true;
  }
  if (n > haystack.size()) {
    return false;
  }
  const char* h = haystack.data();
  if (n == 1) {
    return std::memchr(h, needle[0], haystack.size()) != nullptr;
  }
  const size_t last = haystack.size() - n;  // the last position a match can start at
  size_t i = 0;
#if defined(__x86_64__)
  if (hasAVX2()) {
    i = scan32(h, last, i, needle);
  }
  if (i != kFound) {
    i = scan16(h, last, i, needle);
  }
  if (i == kFound) {
    return true;
  }
#endif
  // The last few positions, and all of them elsewhere.
  for (; i <= last; ++i) {
    if (h[i] == static_cast<char>(needle[0]) && sameBytes(h + i + 1, needle.data() + 1, n - 1)) {
      return true;
    }
  }
  return false;
}

bool containsPadded(std::string_view haystack, std::span<const uint8_t> needle) {
#if defined(__x86_64__)
  const size_t n = needle.size();
  if (n >= 2 && n <= haystack.size() && hasAVX2()) {
    return padded32(haystack.data(), haystack.size() - n, needle);
  }
#endif
  return contains(haystack, needle);
}

}  // namespace vesk::ByteSearch
