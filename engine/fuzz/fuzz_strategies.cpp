// Local strategies over untrusted payloads: every strategy name (and unknown
// ones) with string, number, Base64, hex and arbitrary JSON payloads, in both
// directions. Any input must give a result or a message; decoded timers must
// encode back to the same bytes, and text-form results must be JSON text.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "data/codecs.hpp"
#include "adapter/strategies.hpp"
#include "json.hpp"

namespace {

using zefa::json::Value;

constexpr std::string_view kNames[] = {
    "enum",          "default",         "hb_range_v1",     "hb_range_v2",     "hb_jsq_lightv1", "hb_djv1_color",
    "dj_v1_hsv_alg", "voice_atm_color", "dj_v1_scene_alg", "dj_v2_color_alg", "dj_v2_contr_alg", "dj_v2_music_alg",
    "dj_v2_scene_alg", "db_v1_daily",   "db_v1_month",     "db_v1_frozen",    "db_v1_params",   "db_v1_alarm",
    "sd_clean_record", "ms_dp_syn_alg", "cz_timer1_alg",   "cz_timer2_alg",   "",               "unknown",
};
constexpr size_t kNameCount = sizeof kNames / sizeof kNames[0];

// Strategies whose successful reading is a string of JSON text.
bool text_form(std::string_view name) {
  return name.starts_with("db_v1_") || name == "sd_clean_record" || name.starts_with("cz_timer") ||
         name == "dj_v1_hsv_alg" || name == "voice_atm_color" || name == "dj_v2_color_alg" ||
         name == "dj_v1_scene_alg" || name == "dj_v2_scene_alg";
}

Value parse_or_null(std::string_view text) {
  if (!zefa::json::valid_utf8(text)) return Value();
  auto v = zefa::json::parse(text);
  return v ? std::move(v).value() : Value();
}

const Value& config() {
  static const Value c = parse_or_null(
      R"({"valueType":"Enum","valueDesc":"{\"range\":[\"a\"],\"min\":1}","enumMappingMap":{)"
      R"("0":{"value":"off"},"1":{"value":"on"},"true":{"value":true},"σ":{"value":[1]},"x":7}})");
  return c;
}
const Value& rules() {
  static const Value r =
      parse_or_null(R"({"meter_alarms":{"0":["a",1],"1":["b",-3],"2":["c"],"3":null,"255":["z",2.5]}})");
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  std::string_view name = kNames[data[0] % kNameCount];
  const uint8_t mode = data[1];
  std::string_view rest(reinterpret_cast<const char*>(data) + 2, size - 2);
  std::span<const uint8_t> bytes(data + 2, size - 2);

  Value raw;
  switch (mode % 6) {
    case 0: raw = Value(rest); break;  // any bytes, even ill-formed UTF-8
    case 1: {
      uint64_t bits = 0;
      for (size_t i = 0; i < bytes.size() && i < 8; ++i) bits = bits << 8 | bytes[i];
      double d;
      std::memcpy(&d, &bits, sizeof d);
      raw = mode & 0x40 ? Value(d) : mode & 0x80 ? Value(static_cast<long long>(bits)) : Value(bits);
      break;
    }
    case 2: raw = Value(zefa::data::b64_encode(bytes)); break;
    case 3: {
      std::string hex;
      for (uint8_t b : bytes) zefa::data::append_hex(hex, b, 2);
      raw = Value(hex);
      break;
    }
    default: raw = parse_or_null(rest); break;  // objects, arrays, text holding JSON
  }

  auto r = zefa::adapter::strategy_read(name, raw, config(), rules());
  if (r.ok() && r.value().depth() > zefa::json::kMaxDepth) std::abort();
  // Engine strings are always well-formed UTF-8; ill-formed ones only have to be survived.
  const bool well_formed = !raw.is_string() || zefa::json::valid_utf8(raw.str());
  if (r.ok() && well_formed && text_form(name) && r.value().is_string() && !r.value().str().empty()) {
    if (parse_or_null(r.value().str()).is_null()) std::abort();
  }
  // Decoded timers encode back to the canonical payload.
  if (r.ok() && raw.is_string() && name.starts_with("cz_timer")) {
    auto w = zefa::adapter::strategy_write(name, r.value(), config());
    if (!w.ok()) std::abort();
    auto decoded = zefa::data::b64(raw);
    if (!decoded) std::abort();
    // The switch byte reads as a boolean, so it comes back as 0 or 1.
    const size_t record = name == "cz_timer1_alg" ? 6 : 10;
    for (size_t i = 0; i < decoded->size(); i += record) (*decoded)[i] = (*decoded)[i] != 0;
    if (w.value().str() != zefa::data::b64_encode(*decoded)) std::abort();
  }
  auto w = zefa::adapter::strategy_write(name, raw, config());
  if (w.ok() && w.value().depth() > zefa::json::kMaxDepth) std::abort();
  return 0;
}
