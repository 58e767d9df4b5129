#include "data/codecs.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <limits>

#include "data/text_form.hpp"
#include "data/data.hpp"
#include "text.hpp"

namespace zefa::data {

namespace {

int hex_digit(unsigned char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Sextet values; 64 marks the padding character, -1 characters to drop.
constexpr auto kB64 = [] {
  std::array<int8_t, 256> t{};
  for (auto& v : t) v = -1;
  const char* abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (int i = 0; i < 64; ++i) t[static_cast<unsigned char>(abc[i])] = static_cast<int8_t>(i);
  t['='] = 64;
  return t;
}();
constexpr char kB64Chars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

uint32_t be(const uint8_t* p, int n) noexcept {
  uint32_t v = 0;
  for (int i = 0; i < n; ++i) v = v << 8 | p[i];
  return v;
}

void lower_ascii(std::string& s) noexcept {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
}

}  // namespace

Result<double, std::string> hx(std::string_view text, size_t start, size_t end) {
  start = std::min(start, text.size());
  end = std::min(end, text.size());
  if (start > end || !text::on_boundary(text, start) || !text::on_boundary(text, end)) return fail("invalid hex");
  if (start == end) return 0.0;
  std::string_view s = text.substr(start, end - start);
  size_t i = s[0] == '+' ? 1 : 0;
  if (i == s.size()) return fail("invalid hex");
  uint64_t v = 0;
  for (; i < s.size(); ++i) {
    int d = hex_digit(static_cast<unsigned char>(s[i]));
    if (d < 0 || (v >> 60) != 0) return fail("invalid hex");
    v = v << 4 | static_cast<uint64_t>(d);
  }
  return static_cast<double>(v);
}

std::optional<Bytes> hexbytes(std::string_view text) {
  // Only ASCII can survive as a pair, so anything else that is not white
  // space already decides the result.
  std::string digits;
  digits.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    if (size_t w = text::white_space_at(text.substr(i))) {
      i += w;
      continue;
    }
    if (static_cast<unsigned char>(text[i]) >= 0x80) return std::nullopt;
    digits += text[i++];
  }
  if (digits.size() % 2) return std::nullopt;
  Bytes out;
  out.reserve(digits.size() / 2);
  for (size_t i = 0; i < digits.size(); i += 2) {
    int lo = hex_digit(static_cast<unsigned char>(digits[i + 1]));
    int hi = digits[i] == '+' ? 0 : hex_digit(static_cast<unsigned char>(digits[i]));
    if (hi < 0 || lo < 0) return std::nullopt;
    out.push_back(static_cast<uint8_t>(hi << 4 | lo));
  }
  return out;
}

void append_hex(std::string& out, int64_t v, size_t width) {
  char buf[16];
  auto r = std::to_chars(buf, buf + sizeof buf, static_cast<uint64_t>(v), 16);
  size_t n = static_cast<size_t>(r.ptr - buf);
  if (width > n) out.append(width - n, '0');
  out.append(buf, n);
}

std::optional<Bytes> b64(const Value& v) {
  if (!v.is_string()) return std::nullopt;
  return b64_text(v.str());
}

std::optional<Bytes> b64_text(std::string_view text) {
  // Written through a cursor into room for the largest result, then cut.
  Bytes out(text.size() / 4 * 3);
  uint8_t* o = out.data();
  int q[4];
  int k = 0, pad = 0;
  bool ended = false;  // a padded quad closes the text
  for (unsigned char c : text) {
    int v = kB64[c];
    if (v < 0) continue;
    if (ended) return std::nullopt;
    if (v == 64) {
      if (k < 2) return std::nullopt;
      ++pad;
    } else if (pad) {
      return std::nullopt;
    }
    q[k++] = v;
    if (k < 4) continue;
    if (pad == 0) {
      *o++ = static_cast<uint8_t>(q[0] << 2 | q[1] >> 4);
      *o++ = static_cast<uint8_t>((q[1] & 15) << 4 | q[2] >> 2);
      *o++ = static_cast<uint8_t>((q[2] & 3) << 6 | q[3]);
    } else if (pad == 1) {
      if (q[2] & 3) return std::nullopt;
      *o++ = static_cast<uint8_t>(q[0] << 2 | q[1] >> 4);
      *o++ = static_cast<uint8_t>((q[1] & 15) << 4 | q[2] >> 2);
      ended = true;
    } else {
      if (q[1] & 15) return std::nullopt;
      *o++ = static_cast<uint8_t>(q[0] << 2 | q[1] >> 4);
      ended = true;
    }
    k = pad = 0;
  }
  if (k != 0) return std::nullopt;
  out.resize(static_cast<size_t>(o - out.data()));
  return out;
}

std::string b64_encode(std::span<const uint8_t> bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    uint32_t v = be(bytes.data() + i, 3);
    out += kB64Chars[v >> 18];
    out += kB64Chars[(v >> 12) & 63];
    out += kB64Chars[(v >> 6) & 63];
    out += kB64Chars[v & 63];
  }
  size_t rest = bytes.size() - i;
  if (rest) {
    uint32_t v = static_cast<uint32_t>(bytes[i]) << 16 | (rest == 2 ? static_cast<uint32_t>(bytes[i + 1]) << 8 : 0);
    out += kB64Chars[v >> 18];
    out += kB64Chars[(v >> 12) & 63];
    out += rest == 2 ? kB64Chars[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

Rgb hsv_rgb(double h, double s, double v) noexcept {
  if (s == 0) return {v, v, v};
  int64_t i = data::trunc_i64(std::floor(6 * h));
  double f = 6 * h - static_cast<double>(i);
  double p = v * (1 - s);
  double q = v * (1 - s * f);
  double t = v * (1 - s * (1 - f));
  int64_t sector = i % 6;
  if (sector < 0) sector += 6;
  switch (sector) {
    case 0: return {v, t, p};
    case 1: return {q, v, p};
    case 2: return {p, v, t};
    case 3: return {p, q, v};
    case 4: return {t, p, v};
    default: return {v, p, q};
  }
}

Hs rgb_hs(double r, double g, double b) noexcept {
  const double mx = std::max({r, g, b});
  const double d = mx - std::min({r, g, b});
  if (d == 0) return {0, 0};
  const double rc = (mx - r) / d, gc = (mx - g) / d, bc = (mx - b) / d;
  const double x = r == mx ? bc - gc : g == mx ? (rc + 2) - bc : (gc + 4) - rc;
  double y = std::fmod(x / 6, 1.0);
  if (y < 0) y += 1;
  return {360 * y, d / mx};
}

Result<Value, std::string> rgb_object(std::string_view text) {
  ZEFA_TRY(double r, hx(text, 0, 2));
  ZEFA_TRY(double g, hx(text, 2, 4));
  ZEFA_TRY(double b, hx(text, 4, 6));
  r /= 255;
  g /= 255;
  b /= 255;
  const Hs hs = rgb_hs(r, g, b);
  json::Object o;
  o.reserve(3);
  o.push_unique("h", rounded(1, hs.h));
  o.push_unique("s", rounded(1, hs.s * 255));
  o.push_unique("v", rounded(1, std::max({r, g, b}) * 255));
  return Value(std::move(o));
}

namespace {
constexpr uint64_t kPow10[] = {1ULL,
                               10ULL,
                               100ULL,
                               1000ULL,
                               10000ULL,
                               100000ULL,
                               1000000ULL,
                               10000000ULL,
                               100000000ULL,
                               1000000000ULL,
                               10000000000ULL,
                               100000000000ULL,
                               1000000000000ULL,
                               10000000000000ULL,
                               100000000000000ULL,
                               1000000000000000ULL,
                               10000000000000000ULL,
                               100000000000000000ULL,
                               1000000000000000000ULL,
                               10000000000000000000ULL};

// x = mant * 2^exp exactly; scaling by 10^decimals in 128-bit integers and
// one halving-even shift give the correctly rounded digits, and dividing
// them by 10^decimals (both exact doubles) reads them back correctly
// rounded. Returns false when the digits do not fit a double exactly.
bool rounded_exact(unsigned decimals, double x, double& out) noexcept {
  if (decimals >= std::size(kPow10)) return false;
  const auto bits = std::bit_cast<uint64_t>(x);
  const auto biased = static_cast<int>(bits >> 52 & 0x7FF);
  uint64_t mant = bits & ((uint64_t{1} << 52) - 1);
  int exp = -1074;  // subnormal
  if (biased) {
    mant |= uint64_t{1} << 52;
    exp = biased - 1075;
  }
  if (exp >= 0 || mant == 0) {  // integral already
    out = x;
    return true;
  }
  unsigned __int128 scaled = static_cast<unsigned __int128>(mant) * kPow10[decimals];  // < 2^117
  unsigned shift = static_cast<unsigned>(-exp);
  unsigned __int128 n = 0;
  if (shift < 128) {
    n = scaled >> shift;
    unsigned __int128 rest = scaled - (n << shift), half = static_cast<unsigned __int128>(1) << (shift - 1);
    if (rest > half || (rest == half && (n & 1))) ++n;
  }
  if (n >= (static_cast<unsigned __int128>(1) << 53)) return false;
  out = std::copysign(static_cast<double>(static_cast<uint64_t>(n)) / static_cast<double>(kPow10[decimals]), x);
  return true;
}
}  // namespace

double rounded(unsigned decimals, double x) noexcept {
  // Beyond 1074 places every double is already exact.
  if (!std::isfinite(x) || decimals >= 1074) return x;
  double fast = 0;
  if (rounded_exact(decimals, x, fast)) return fast;
  char buf[1500];  // sign, 309 integer digits, point, 1073 decimals
  auto w = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::fixed, static_cast<int>(decimals));
  if (w.ec != std::errc()) return x;
  double y = 0;
  auto r = std::from_chars(buf, w.ptr, y);
  if (r.ec != std::errc() || r.ptr != w.ptr) return x;
  return y;
}

std::optional<MeterRecord> meter_record(std::span<const uint8_t> bytes) {
  size_t n = bytes.size();
  if (n < 8) return std::nullopt;
  const uint8_t* d = bytes.data();
  bool lng = false, sign = false;
  if (n == 17 && d[0] == 0x01 && d[1] == 0x0F) {
    lng = true;
    d += 2;
  } else if (n == 18 && d[0] == 0x02 && d[1] == 0x0F) {
    lng = sign = true;
    d += 2;
  }
  MeterRecord m;
  m.voltage = Value(be(d, 2) / 10.0);
  m.current = Value(static_cast<double>(be(d + 2, 3)));
  m.power = Value(static_cast<double>(be(d + 5, 3)));
  if (lng) {
    m.reactive_power = data::number(be(d + 8, 3));
    m.apparent_power = data::number(be(d + 11, 3));
    m.power_factor = data::number(d[14] / 100.0);
  }
  if (sign) {
    uint8_t s = bytes[17];
    auto negate = [](Value& v) { v = data::number(-data::n(v)); };
    if (s & 0x01) negate(m.current);
    if (s & 0x02) negate(m.power);
    if (s & 0x04) negate(m.reactive_power);
    if (s & 0x08) negate(m.power_factor);
  }
  return m;
}

Value electricity(std::span<const uint8_t> bytes) {
  std::optional<MeterRecord> m = meter_record(bytes);
  if (!m) return Value();
  json::Object o;
  o.reserve(6);
  o.push_unique("voltage", std::move(m->voltage));
  o.push_unique("current", std::move(m->current));
  o.push_unique("power", std::move(m->power));
  o.push_unique("reactive_power", std::move(m->reactive_power));
  o.push_unique("apparent_power", std::move(m->apparent_power));
  o.push_unique("power_factor", std::move(m->power_factor));
  return Value(std::move(o));
}

Value dumps_float(Value v, FloatKeys keys) {
  TextForm w(keys);
  w.value(v);
  return w.finish();
}

Value default_value(const Value& config) {
  const Value& vt = config["valueType"];
  if (!vt.is_string()) return Value("");
  std::string t(vt.str());
  lower_ascii(t);
  if (t == "enum") {
    Value desc = data::parse(config["valueDesc"]);
    const Value& range = desc["range"];
    return range.is_array() && range.size() ? range[size_t{0}] : Value();
  }
  if (t == "boolean") return Value(false);
  if (t == "integer") return data::parse(config["valueDesc"])["min"];
  return Value("");
}

std::string strategy_code(const Value& item) {
  Value f = data::parse(item["config_item"]["statusFormat"]);
  if (f.is_object() && f.size()) return std::string(f.obj().at(f.size() - 1).name());
  const Value& code = item["status_code"];
  return code.is_string() ? std::string(code.str()) : std::string();
}

}  // namespace zefa::data
