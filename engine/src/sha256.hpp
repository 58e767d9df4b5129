// SHA-256 (FIPS 180-4), the digest behind rule-pack fingerprints. The engine
// keeps its own so that hashing reads no environment variable and no file:
// the x86-64 SHA extensions are used when the CPU reports them (CPUID, read
// once), portable code otherwise. Both give the same digests.
//
// Pure functions; a Hasher belongs to one thread at a time, distinct hashers
// may be used from any number of threads.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zefa::sha256 {

using Digest = std::array<uint8_t, 32>;

// The code that compresses blocks. Only tests name one; everything else
// takes the one chosen for this CPU.
enum class Path : uint8_t { Portable, Extensions };

// Whether this CPU has the SHA extensions (with SSSE3 and SSE4.1) and this
// build holds the code for them. Always false off x86-64.
bool has_extensions() noexcept;

// A message fed in pieces of any size; `finish` gives its digest.
class Hasher {
 public:
  // The path chosen for this CPU.
  Hasher() noexcept;
  // The path named; Path::Extensions falls back to the portable code where
  // `has_extensions()` is false.
  explicit Hasher(Path path) noexcept;

  void update(std::string_view bytes) noexcept;

  // The digest of everything fed since construction or the last `finish`;
  // the hasher then starts a new, empty message.
  Digest finish() noexcept;

 private:
  using Compress = void (*)(uint32_t* state, const uint8_t* blocks, size_t count) noexcept;

  void reset() noexcept;

  Compress compress_;
  uint64_t length_ = 0;  // bytes fed so far
  uint32_t state_[8];
  uint8_t block_[64];    // the first length_ % 64 bytes of a partial block
};

// The digest of one message, on the path chosen for this CPU.
Digest digest(std::string_view bytes) noexcept;

}  // namespace zefa::sha256
