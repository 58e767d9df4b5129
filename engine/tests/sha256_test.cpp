#include "sha256.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace sha256 = zefa::sha256;
using sha256::Path;

namespace {

// The expected digests below were made with coreutils sha256sum, the
// pattern messages by
//   perl -e 'print map { chr(($_ * 167 + 13) % 256) } 0..$ARGV[0]-1' N | sha256sum
// (every byte value occurs, so a signed-byte slip shows).
std::string pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 167 + 13) % 256);
  return s;
}

std::string hex(const sha256::Digest& d) {
  std::string out;
  for (uint8_t b : d) {
    char two[3];
    std::snprintf(two, sizeof two, "%02x", b);
    out += two;
  }
  return out;
}

std::vector<Path> paths() {
  if (sha256::has_extensions()) return {Path::Portable, Path::Extensions};
  std::printf("note: this CPU lacks the SHA extensions; only the portable path is checked\n");
  return {Path::Portable};
}

// Updates of the sizes named, taken in turn until the message is used up,
// so that pieces end inside, at and across block and padding boundaries.
using Plan = std::vector<size_t>;
const std::vector<Plan> kPlans = {{0}, {1}, {63, 1}, {64, 65}, {0, 7, 129, 3}, {55, 56, 57}};

sha256::Digest hash(Path path, const std::string& m, const Plan& plan) {
  sha256::Hasher h(path);
  if (plan == Plan{0}) {
    h.update(m);
    return h.finish();
  }
  for (size_t at = 0, i = 0; at < m.size(); ++i) {
    const size_t n = std::min(plan[i % plan.size()], m.size() - at);
    h.update(std::string_view(m).substr(at, n));
    at += n;
  }
  return h.finish();
}

void expect_everywhere(const std::string& m, const std::string& expected, const std::string& what) {
  for (Path path : paths())
    for (const Plan& plan : kPlans)
      EXPECT_EQ(hex(hash(path, m, plan)), expected)
          << what << ", path " << int(path) << ", first piece " << plan[0];
}

}  // namespace

TEST(Sha256, ExampleVectors) {
  struct Row {
    std::string message, digest;
  };
  const std::vector<Row> rows = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Row& r : rows) {
    expect_everywhere(r.message, r.digest, "length " + std::to_string(r.message.size()));
    EXPECT_EQ(hex(sha256::digest(r.message)), r.digest);
  }
}

// Lengths 0 to 130 cover every place the padding can fall in one and two
// blocks. Each row holds the first 8 hex digits of a digest; the last check
// covers the rest: the SHA-256 of the 131 digests one after another.
TEST(Sha256, EveryShortLength) {
  constexpr uint32_t kHeads[131] = {
      0xe3b0c442, 0x9d1e0e2d, 0xac4150fe, 0x13c425a7, 0x3ca50c11, 0x0b2efc81, 0x39ecf6ce, 0xc203a078,
      0xf0c621cb, 0xd7d49018, 0x11e88db1, 0xa637bab7, 0x41f24dd1, 0x632debde, 0xaab4ab03, 0x4da00c49,
      0xce141eff, 0x3c8c595a, 0x38bbd991, 0xcc0ee254, 0x5593f50c, 0xe447b286, 0x83a91f7f, 0x0e9ccc7d,
      0xee174dce, 0xf38e6cf0, 0x1d7ab78b, 0x1ab69f9d, 0x86447568, 0x410e4850, 0xcbf2ac63, 0xe0f1595a,
      0xa0005a1a, 0xf456e3e9, 0x89dbffe8, 0x60145698, 0xf123e3c6, 0x052bf9f3, 0x94060274, 0x21089370,
      0x0c8cd993, 0x8657f654, 0xf08e4c43, 0x1cb366de, 0x6ebba9ac, 0x943b0f14, 0x28edfb46, 0x1a74f440,
      0x3a1f1b38, 0x66de5aab, 0x4c55db80, 0x1a6bd48e, 0x2afd2a62, 0xb5c404c4, 0x5d17705b, 0xb2ca0adc,
      0x3768eff4, 0xa35b6298, 0xe0f44697, 0x5f7a4740, 0xf867cac0, 0x66ca6894, 0x0d3b08f7, 0xdc06ea9e,
      0xb68fe543, 0x587cdb9a, 0xdf8c8801, 0xc24eda61, 0xd4530dae, 0x66166998, 0x88ca792e, 0x7df0a7ca,
      0xe66e9c2d, 0x2afc27ea, 0x306fbbd7, 0xbdc304ee, 0xe22a2503, 0xdc4c20b4, 0x15bc2000, 0x5c412566,
      0x97a27d9a, 0x22f7ee5e, 0x3c4c6fe1, 0x9a942915, 0x1ff21fe7, 0x05dac20a, 0x1ac0a62e, 0xcf122065,
      0x10c29621, 0x8385a09e, 0xa90b7693, 0x8ed0c4f2, 0x49e43de8, 0xbc86ffb3, 0xa4fd5b9b, 0x7af12630,
      0xb0335ebe, 0xdc91b149, 0x77829eec, 0x5555a140, 0x2f3e74f3, 0x855deb00, 0x6cb8ecc7, 0x75f00ac3,
      0x1a0a7cce, 0x2245bc2b, 0xdcec5cf5, 0xd6802fb9, 0x94112edd, 0x1424da7d, 0x785b209c, 0x9905ec11,
      0xa11fc5c7, 0x3e37bc2f, 0x39995a4b, 0xc6ef546e, 0x8441248d, 0xb6cd4e49, 0xf07f917c, 0xb27b6103,
      0x00c666e9, 0x59b49045, 0xf2abd38f, 0x9cc73b60, 0x72ac5622, 0x36d435c4, 0x690797a8, 0x805f2702,
      0xcd77acfc, 0x2c0b373b, 0xa8d18869};
  for (Path path : paths()) {
    std::string all;
    for (size_t n = 0; n <= 130; ++n) {
      const std::string m = pattern(n);
      const sha256::Digest whole = hash(path, m, {0});
      char head[9];
      std::snprintf(head, sizeof head, "%08x", kHeads[n]);
      EXPECT_EQ(hex(whole).substr(0, 8), head) << "length " << n << ", path " << int(path);
      for (const Plan& plan : kPlans)
        EXPECT_EQ(hash(path, m, plan), whole) << "length " << n << ", first piece " << plan[0];
      all.append(whole.begin(), whole.end());
    }
    EXPECT_EQ(hex(hash(path, all, {0})), "6294d4a5567f458cbff2b43a972c0a121a5756278953e6e3e6ce2db8604158a9");
  }
}

TEST(Sha256, LongMessages) {
  struct Row {
    size_t length;
    std::string digest;
  };
  for (const Row& r : std::vector<Row>{
           {1000, "fa10d4e76ab24b0ff9d6c596a00df178cd2a80a15c70770dee68d374ccb39bc6"},
           {4097, "372b00a0beb7d3ab2b8de43f860aa696ae374f0d645b610fcbb71fb8a1a21c24"},
           {65543, "827e02d808fcd6a0c85fd9b9ea9365a828e5baaa72eb23e771f5371d1f291397"},
           {1000003, "e5f4f0ee197d93491f7874d90547b33c356b8ac14350cf57b5afc5546c3f8e58"},
       })
    expect_everywhere(pattern(r.length), r.digest, "length " + std::to_string(r.length));
}

TEST(Sha256, FinishStartsANewMessage) {
  sha256::Hasher h;
  h.update("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq");
  (void)h.finish();
  h.update("ab");
  h.update("c");
  EXPECT_EQ(hex(h.finish()), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(hex(h.finish()), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(Sha256, PathsAgreeOnRandomInputs) {
  if (!sha256::has_extensions()) GTEST_SKIP() << "this CPU lacks the SHA extensions: only the portable path exists";
  std::mt19937_64 rng(28);
  for (int round = 0; round < 400; ++round) {
    const size_t n = round < 390 ? rng() % 3000 : rng() % (1 << 20);
    std::string m(n, '\0');
    for (char& c : m) c = static_cast<char>(rng());
    const Plan plan = {1 + rng() % 200, rng() % 70, 1 + rng() % 1000};
    EXPECT_EQ(hash(Path::Extensions, m, plan), hash(Path::Portable, m, {0})) << "length " << n;
  }
}
