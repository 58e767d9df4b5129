#include "sha256.hpp"

#include <bit>
#include <cstring>

#if defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#define ZEFA_SHA256_EXTENSIONS 1
#endif

namespace zefa::sha256 {
namespace {

constexpr uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                  0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

alignas(16) constexpr uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

inline uint32_t load_be32(const uint8_t* p) noexcept {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

void compress_portable(uint32_t* state, const uint8_t* p, size_t count) noexcept {
  for (; count > 0; --count, p += 64) {
    uint32_t w[64];
    for (int t = 0; t < 16; ++t) w[t] = load_be32(p + 4 * t);
    for (int t = 16; t < 64; ++t) {
      const uint32_t s0 = std::rotr(w[t - 15], 7) ^ std::rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
      const uint32_t s1 = std::rotr(w[t - 2], 17) ^ std::rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
      w[t] = w[t - 16] + s0 + w[t - 7] + s1;
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    // Eight rounds per pass with the variables' roles turned by argument
    // order instead of by copying.
    const auto round = [&w](uint32_t a, uint32_t b, uint32_t c, uint32_t& d, uint32_t e, uint32_t f,
                            uint32_t g, uint32_t& h, int t) {
      const uint32_t t1 = h + (std::rotr(e, 6) ^ std::rotr(e, 11) ^ std::rotr(e, 25)) +
                          ((e & f) ^ (~e & g)) + kRound[t] + w[t];
      d += t1;
      h = t1 + (std::rotr(a, 2) ^ std::rotr(a, 13) ^ std::rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
    };
    for (int t = 0; t < 64; t += 8) {
      round(a, b, c, d, e, f, g, h, t);
      round(h, a, b, c, d, e, f, g, t + 1);
      round(g, h, a, b, c, d, e, f, t + 2);
      round(f, g, h, a, b, c, d, e, t + 3);
      round(e, f, g, h, a, b, c, d, t + 4);
      round(d, e, f, g, h, a, b, c, t + 5);
      round(c, d, e, f, g, h, a, b, t + 6);
      round(b, c, d, e, f, g, h, a, t + 7);
    }
    state[0] += a, state[1] += b, state[2] += c, state[3] += d;
    state[4] += e, state[5] += f, state[6] += g, state[7] += h;
  }
}

#ifdef ZEFA_SHA256_EXTENSIONS

bool cpu_has_extensions() noexcept {
  constexpr unsigned kSsse3 = 1u << 9, kSse41 = 1u << 19;  // leaf 1, ECX
  constexpr unsigned kSha = 1u << 29;                      // leaf 7, EBX
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid_max(0, nullptr) < 7) return false;
  __cpuid(1, a, b, c, d);
  if ((c & kSsse3) == 0 || (c & kSse41) == 0) return false;
  __cpuid_count(7, 0, a, b, c, d);
  return (b & kSha) != 0;
}

// The rounds instruction keeps the working variables as two vectors, ABEF
// and CDGH (A in the highest lane), and does two rounds per call; each pass
// of the loop below does four rounds and makes the schedule's words for the
// pass four ahead.
__attribute__((target("sha,sse4.1,ssse3"))) void compress_extensions(uint32_t* state, const uint8_t* p,
                                                                     size_t count) noexcept {
  // Message words are big-endian.
  const __m128i swap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
  const __m128i dcba = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0xB1);
  const __m128i hgfe = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4)), 0x1B);
  __m128i abef = _mm_alignr_epi8(dcba, hgfe, 8);
  __m128i cdgh = _mm_blend_epi16(hgfe, dcba, 0xF0);
  for (; count > 0; --count, p += 64) {
    const __m128i abef_in = abef, cdgh_in = cdgh;
    __m128i m0 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), swap);
    __m128i m1 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)), swap);
    __m128i m2 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32)), swap);
    __m128i m3 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48)), swap);
    for (int i = 0; i < 16; ++i) {
      const __m128i wk = _mm_add_epi32(m0, _mm_load_si128(reinterpret_cast<const __m128i*>(kRound + 4 * i)));
      cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
      abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(wk, 0x0E));
      // W[t] = s1(W[t-2]) + W[t-7] + s0(W[t-15]) + W[t-16], four at a time;
      // the last four passes make words nobody reads.
      const __m128i next =
          _mm_sha256msg2_epu32(_mm_add_epi32(_mm_sha256msg1_epu32(m0, m1), _mm_alignr_epi8(m3, m2, 4)), m3);
      m0 = m1;
      m1 = m2;
      m2 = m3;
      m3 = next;
    }
    abef = _mm_add_epi32(abef, abef_in);
    cdgh = _mm_add_epi32(cdgh, cdgh_in);
  }
  const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
  const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}

#endif

// Decided on first use, once for the process.
bool extensions_usable() noexcept {
#ifdef ZEFA_SHA256_EXTENSIONS
  static const bool usable = cpu_has_extensions();
  return usable;
#else
  return false;
#endif
}

}  // namespace

bool has_extensions() noexcept { return extensions_usable(); }

Hasher::Hasher() noexcept : Hasher(Path::Extensions) {}

Hasher::Hasher(Path path) noexcept : compress_(compress_portable) {
#ifdef ZEFA_SHA256_EXTENSIONS
  if (path == Path::Extensions && extensions_usable()) compress_ = compress_extensions;
#else
  (void)path;
#endif
  reset();
}

void Hasher::reset() noexcept {
  length_ = 0;
  std::memcpy(state_, kInitial, sizeof state_);
}

void Hasher::update(std::string_view bytes) noexcept {
  if (bytes.empty()) return;
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  size_t n = bytes.size();
  size_t held = length_ % 64;
  length_ += n;
  if (held > 0) {
    const size_t take = n < 64 - held ? n : 64 - held;
    std::memcpy(block_ + held, p, take);
    p += take, n -= take, held += take;
    if (held < 64) return;
    compress_(state_, block_, 1);
  }
  if (n >= 64) compress_(state_, p, n / 64);
  if (n % 64 > 0) std::memcpy(block_, p + (n - n % 64), n % 64);
}

Digest Hasher::finish() noexcept {
  // The message, a one bit, zeros, and its length in bits as a big-endian
  // 64-bit number, to a whole number of blocks.
  const uint64_t bits = length_ * 8;
  size_t held = length_ % 64;
  block_[held++] = 0x80;
  if (held > 56) {
    std::memset(block_ + held, 0, 64 - held);
    compress_(state_, block_, 1);
    held = 0;
  }
  std::memset(block_ + held, 0, 56 - held);
  for (int i = 0; i < 8; ++i) block_[56 + i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
  compress_(state_, block_, 1);
  Digest out;
  for (int i = 0; i < 8; ++i) {
    out[4 * i] = static_cast<uint8_t>(state_[i] >> 24);
    out[4 * i + 1] = static_cast<uint8_t>(state_[i] >> 16);
    out[4 * i + 2] = static_cast<uint8_t>(state_[i] >> 8);
    out[4 * i + 3] = static_cast<uint8_t>(state_[i]);
  }
  reset();
  return out;
}

Digest digest(std::string_view bytes) noexcept {
  Hasher h;
  h.update(bytes);
  return h.finish();
}

}  // namespace zefa::sha256
