// Weekly timers (both directions), cleaning records and bit-set lists.
#include <bitset>
#include <charconv>
#include <cmath>

#include "data/codecs.hpp"
#include "adapter/families.hpp"
#include "data/text_form.hpp"
#include "data/data.hpp"
#include "text.hpp"

namespace zefa::adapter::family {

using namespace data;  // the value codecs are this module's vocabulary

namespace {

// ---- Weekly timers ----------------------------------------------------------------

constexpr std::string_view kTimes[] = {"start_time", "end_time", "open_time", "close_time"};

// Record sizes: switch, weekdays, then two bytes per time member.
constexpr size_t record_size(size_t times) { return 2 + 2 * times; }

// HH:MM, hours not limited to 23; `buf` holds the text.
std::string_view time_text(char (&buf)[16], unsigned minutes) noexcept {
  char* p = buf;
  if (minutes < 600) *p++ = '0';
  p = std::to_chars(p, buf + sizeof buf, minutes / 60).ptr;
  *p++ = ':';
  *p++ = static_cast<char>('0' + minutes % 60 / 10);
  *p++ = static_cast<char>('0' + minutes % 10);
  return {buf, static_cast<size_t>(p - buf)};
}

ReadResult read_timers(const Value& raw, size_t times) {
  std::optional<Bytes> b = b64(raw);
  if (!b) return fail("invalid base64");
  const size_t size = record_size(times);
  if (b->size() % size) return fail("invalid timer");
  // A timer's text takes at most about 130 bytes (four times).
  TextForm w(kElectricityKeys, b->size() / size * (40 + 25 * times) + 2);
  char hhmm[16];
  w.open_array();
  for (size_t at = 0; at < b->size(); at += size) {
    const uint8_t* r = b->data() + at;
    w.open_object();
    w.key("timer_switch");
    w.boolean(r[0] != 0);
    w.key("week_day");
    w.open_array();
    for (int i = 0; i < 8; ++i)
      if (r[1] >> i & 1) w.integer(i);
    w.close();
    for (size_t t = 0; t < times; ++t) {
      w.key(kTimes[t]);
      w.text(time_text(hhmm, static_cast<unsigned>(r[2 + 2 * t]) << 8 | r[3 + 2 * t]));
    }
    w.close();
  }
  w.close();
  return w.finish();
}

ReadResult read_timer1(const Value& raw, const Value&, const Value&) { return read_timers(raw, 2); }
ReadResult read_timer2(const Value& raw, const Value&, const Value&) { return read_timers(raw, 4); }

// An unsigned 16-bit decimal: optional "+", then digits only.
bool read_u16(std::string_view s, unsigned& out) noexcept {
  const std::optional<uint64_t> v = text::unsigned_decimal(s);
  if (!v || *v > 65535) return false;
  out = static_cast<unsigned>(*v);
  return true;
}

// "HH:MM" into minutes below 65536.
bool read_time(std::string_view s, unsigned& minutes) noexcept {
  size_t colon = s.find(':');
  if (colon == std::string_view::npos) return false;
  unsigned h = 0, m = 0;
  if (!read_u16(s.substr(0, colon), h) || !read_u16(s.substr(colon + 1), m)) return false;
  minutes = h * 60 + m;  // at most 65535 * 61: no overflow
  return minutes < 65536;
}

Result<Value> write_timers(const Value& p, size_t times) {
  Bytes out;
  out.reserve(p.size() * record_size(times));
  for (const Value& t : p.arr()) {
    out.push_back(data::truth(t["timer_switch"]) ? 1 : 0);
    uint8_t mask = 0;
    for (const Value& d : t["week_day"].arr()) {
      double x = data::n(d);
      // Toward zero into an unsigned value: negatives and not-a-number give 0.
      if (!(x > 0)) x = 0;
      if (x < 8) mask = static_cast<uint8_t>(mask | 1u << static_cast<unsigned>(x));
    }
    out.push_back(mask);
    for (size_t i = 0; i < times; ++i) {
      unsigned minutes = 0;
      if (!read_time(t[kTimes[i]].str(), minutes)) return fail("invalid time");
      out.push_back(static_cast<uint8_t>(minutes >> 8));
      out.push_back(static_cast<uint8_t>(minutes & 0xFF));
    }
  }
  return Value(b64_encode(out));
}

Result<Value> write_timer1(const Value& p, const Value&) { return write_timers(p, 2); }
Result<Value> write_timer2(const Value& p, const Value&) { return write_timers(p, 4); }

// ---- Cleaning record ---------------------------------------------------------------

struct Span {
  size_t a, b;  // half-open byte range; a == b marks a missing field
};
constexpr Span kMissing{0, 0};

struct Layout {
  Span record_time, clean_time, clean_area, map_id;
};

Layout layout(size_t n) noexcept {
  if (n == 6) return {kMissing, {0, 3}, {3, 6}, kMissing};
  if (n == 11) return {kMissing, {0, 3}, {3, 6}, {6, 11}};
  if (n >= 18) return {{0, 12}, {12, 15}, {15, 18}, n >= 23 ? Span{18, 23} : kMissing};
  if (n >= 15) return {{0, 12}, {12, 15}, kMissing, kMissing};
  if (n >= 12) return {{0, 12}, kMissing, kMissing, kMissing};
  return {kMissing, kMissing, kMissing, kMissing};
}

// A field's text, or nothing when missing or cut through a character.
std::optional<std::string_view> field(std::string_view t, Span s) noexcept {
  if (s.a == s.b || !text::on_boundary(t, s.a) || !text::on_boundary(t, s.b)) return std::nullopt;
  return t.substr(s.a, s.b - s.a);
}

// Three characters: three digits, or a sign and two digits.
bool read_3(std::optional<std::string_view> f, int& out) noexcept {
  if (!f || f->size() != 3) return false;
  std::string_view s = *f;
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  if (!digit(s[1]) || !digit(s[2])) return false;
  int two = (s[1] - '0') * 10 + (s[2] - '0');
  if (digit(s[0])) out = (s[0] - '0') * 100 + two;
  else if (s[0] == '+') out = two;
  else if (s[0] == '-') out = -two;
  else return false;
  return true;
}

ReadResult read_clean_record(const Value& raw, const Value&, const Value&) {
  std::string_view t = payload(raw);
  Layout l = layout(t.size());
  int clean_time = 0, clean_area = 0;
  if (!read_3(field(t, l.clean_time), clean_time)) return fail("invalid clean time");
  if (!read_3(field(t, l.clean_area), clean_area)) return fail("invalid area");
  TextForm w(kElectricityKeys);
  w.open_object();
  w.key("record_time");
  w.text(field(t, l.record_time).value_or(""));
  w.key("clean_time");
  w.integer(clean_time);
  w.key("clean_area");
  w.integer(clean_area);
  w.key("map_id");
  w.text(field(t, l.map_id).value_or(""));
  w.close();
  return w.finish();
}

// ---- Bit sets ----------------------------------------------------------------------

ReadResult read_bitset(const Value& raw, const Value&, const Value&) {
  std::optional<Bytes> b = b64(raw);
  if (!b) return Value::array();
  // Numbers run from -8 (group 0) to 1015 (group 127); a bitset sorts and dedups.
  std::bitset<1024> seen;
  for (size_t i = 0; i + 1 < b->size(); i += 2) {
    unsigned group = (*b)[i] & 0x7F, mask = (*b)[i + 1];
    for (unsigned bit = 0; bit < 8; ++bit)
      if (mask >> bit & 1) seen.set(group * 8 + bit);
  }
  json::Array out;
  out.reserve(seen.count());
  for (size_t i = 0; i < seen.size(); ++i)
    if (seen.test(i)) out.emplace_back(static_cast<long long>(i) - 8);
  return Value(std::move(out));
}

constexpr Strategy kRecords[] = {
    {"sd_clean_record", read_clean_record, nullptr, false, OnNull::Null},
    {"ms_dp_syn_alg", read_bitset, nullptr, false, OnNull::Null},
    {"cz_timer1_alg", read_timer1, write_timer1, true, OnNull::Null},
    {"cz_timer2_alg", read_timer2, write_timer2, true, OnNull::Null},
};

}  // namespace

std::span<const Strategy> records() { return kRecords; }

}  // namespace zefa::adapter::family
