// The energy-meter strategies: Base64 records of energy totals, freeze times,
// live measurements and alarms, read only.
#include <charconv>
#include <string>
#include <cmath>
#include <limits>

#include "data/codecs.hpp"
#include "adapter/families.hpp"
#include "data/text_form.hpp"
#include "data/data.hpp"

namespace zefa::adapter::family {

using namespace data;  // the value codecs are this module's vocabulary

namespace {

Result<Bytes, std::string> payload_bytes(const Value& raw) {
  std::optional<Bytes> b = b64(raw);
  if (!b) return fail("invalid base64");
  return std::move(*b);
}

// Byte i, or 0 beyond the end.
unsigned at(const Bytes& b, size_t i) noexcept { return i < b.size() ? b[i] : 0; }

ReadResult read_period(const Value& raw, const std::string_view (&names)[4]) {
  ZEFA_TRY(Bytes b, payload_bytes(raw));
  TextForm w(kElectricityKeys);
  w.open_object();
  for (size_t i = 0; i < 4; ++i) {
    w.key(names[i]);
    w.integer(at(b, i));
  }
  uint32_t total = 0;
  if (b.size() >= 8) total = uint32_t{b[4]} << 24 | uint32_t{b[5]} << 16 | uint32_t{b[6]} << 8 | b[7];
  w.key("electricTotal");
  w.number(total / 100.0);
  w.close();
  return w.finish();
}

constexpr std::string_view kDaily[4] = {"startMonth", "startDay", "endMonth", "endDay"};
constexpr std::string_view kMonth[4] = {"startYear", "startMonth", "endYear", "endMonth"};

ReadResult read_daily(const Value& raw, const Value&, const Value&) { return read_period(raw, kDaily); }
ReadResult read_month(const Value& raw, const Value&, const Value&) { return read_period(raw, kMonth); }

ReadResult read_frozen(const Value& raw, const Value&, const Value&) {
  ZEFA_TRY(Bytes b, payload_bytes(raw));
  TextForm w(kElectricityKeys);
  w.open_object();
  w.key("day");
  w.integer(at(b, 0));
  w.key("hour");
  w.integer(at(b, 1));
  w.close();
  return w.finish();
}

ReadResult read_params(const Value& raw, const Value&, const Value&) {
  ZEFA_TRY(Bytes b, payload_bytes(raw));
  std::optional<MeterRecord> e = meter_record(b);
  if (!e) return fail("short electricity payload");
  TextForm w(kElectricityKeys);
  w.open_object();
  w.key("voltage");
  w.value(e->voltage);
  w.key("electricCurrent");
  w.number(data::n(e->current) / 1000);
  w.key("power");
  w.number(data::n(e->power) / 1000);
  if (!e->reactive_power.is_null()) {
    w.key("reactivePower");
    w.value(data::number(data::n(e->reactive_power) / 1000));
    w.key("apparentPower");
    w.value(data::number(data::n(e->apparent_power) / 1000));
    w.key("powerFactor");
    w.value(e->power_factor);
  }
  w.close();
  return w.finish();
}

// Shortest digits that read back as x, laid out without an exponent;
// infinity as "inf". x is never negative or not-a-number here.
void append_plain(std::string& out, double x) {
  if (std::isinf(x)) {
    out += "inf";
    return;
  }
  if (x == 0) {
    out += '0';
    return;
  }
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific);
  std::string_view sci(buf, static_cast<size_t>(r.ptr - buf));
  size_t e = sci.find('e');
  std::string digits;
  for (char c : sci.substr(0, e))
    if (c != '.') digits += c;
  int exp = 0;
  std::string_view es = sci.substr(e + 1);
  if (es[0] == '+') es.remove_prefix(1);
  std::from_chars(es.data(), es.data() + es.size(), exp);
  if (exp < 0) {
    out += "0.";
    out.append(static_cast<size_t>(-exp - 1), '0');
    out += digits;
  } else if (static_cast<size_t>(exp) + 1 >= digits.size()) {
    out += digits;
    out.append(static_cast<size_t>(exp) + 1 - digits.size(), '0');
  } else {
    out.append(digits, 0, static_cast<size_t>(exp) + 1);
    out += '.';
    out.append(digits, static_cast<size_t>(exp) + 1);
  }
}

// raw / 10^k rounded once from the exact quotient, for any 32-bit k.
double scale(uint32_t raw, int32_t k) {
  if (raw == 0) return 0;
  std::string text = std::to_string(raw) + 'e' + std::to_string(-static_cast<int64_t>(k));
  double x = 0;
  auto r = std::from_chars(text.data(), text.data() + text.size(), x);
  if (r.ec == std::errc::result_out_of_range) return k < 0 ? std::numeric_limits<double>::infinity() : 0.0;
  return x;
}

std::string threshold(const std::string_view rec, const Value& decimals) {
  double d = data::n(decimals);
  // Truncated toward zero into 32 bits, saturating; not-a-number gives 0.
  int32_t k = std::isnan(d) ? 0 : d >= 2147483647.0 ? std::numeric_limits<int32_t>::max()
                                : d <= -2147483648.0 ? std::numeric_limits<int32_t>::min()
                                                     : static_cast<int32_t>(d);
  uint32_t raw = 0;
  for (size_t i = 2; i < rec.size(); ++i) raw = raw << 8 | static_cast<unsigned char>(rec[i]);
  double x = scale(raw, k);
  std::string out;
  if (d > 0) {
    append_plain(out, x);
    if (std::isfinite(x) && x == std::trunc(x)) out += ".0";
  } else {
    append_plain(out, std::trunc(x));
  }
  return out;
}

ReadResult read_alarm(const Value& raw, const Value&, const Value& rules) {
  ZEFA_TRY(Bytes b, payload_bytes(raw));
  const Value& alarms = rules["meter_alarms"];
  TextForm w(kElectricityKeys);
  w.open_array();
  for (size_t i = 0; i < b.size(); i += 4) {
    std::string_view rec(reinterpret_cast<const char*>(b.data()) + i, std::min<size_t>(4, b.size() - i));
    char num[4];
    auto n = std::to_chars(num, num + sizeof num, static_cast<unsigned char>(rec[0]));
    const Value* entry = alarms.find(std::string_view(num, static_cast<size_t>(n.ptr - num)));
    if (!entry || entry->is_null()) continue;
    w.open_object();
    w.key("alarmCode");
    w.value((*entry)[size_t{0}]);
    w.key("doAction");
    w.boolean(rec.size() > 1 && rec[1] == 1);
    const Value& decimals = (*entry)[size_t{1}];
    if (!decimals.is_null()) {
      w.key("threshold");
      w.text(threshold(rec, decimals));
    }
    w.close();
  }
  w.close();
  return w.finish();
}

constexpr Strategy kMetering[] = {
    {"db_v1_daily", read_daily, nullptr, false, OnNull::Null},
    {"db_v1_month", read_month, nullptr, false, OnNull::Null},
    {"db_v1_frozen", read_frozen, nullptr, false, OnNull::Null},
    {"db_v1_params", read_params, nullptr, false, OnNull::Null},
    {"db_v1_alarm", read_alarm, nullptr, false, OnNull::Null},
};

}  // namespace

std::span<const Strategy> metering() { return kMetering; }

}  // namespace zefa::adapter::family
