// Device descriptions and quirks from the host: any JSON document is taken
// apart into a description, a dp map, a quirk, a rule pack, a report and
// commands, and run through preparation, roles and the adapter. Nothing may
// fault, and the adapter must keep its invariants and read back its document.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "adapter/adapter.hpp"
#include "data/data.hpp"
#include "data/prepare.hpp"
#include "data/role.hpp"
#include "json.hpp"
#include "testing.hpp"
#include "record.hpp"

using zefa::adapter::Adapter;
using zefa::json::Value;
namespace data = zefa::data;
namespace record = zefa::record;

namespace {

using zefa::testing::check;

void exercise_adapter(Adapter a, const Value& device, const Value& in, const std::vector<std::string>& codes) {
  Value decoded = a.read(in["dps"], in["rules"]);
  check(decoded.is_object());
  for (const auto& m : decoded.obj()) {
    bool known = false;
    for (const auto& e : a.entries) known = known || e.second.code == m.name();
    check(known);
  }
  auto written = a.write(in["commands"].arr());
  check(!written.ok() || written.value().is_object());
  for (const std::string& code : codes) {
    (void)a.flip(code, in["value"]);
    a.invert(code, device);
    a.set_bounds(code, device);
  }
  (void)a.read(in["dps"], in["rules"]).dump();
  auto back = record::read<Adapter>(record::write(a));
  check(back.ok() && back.value() == a);
}

void exercise_roles(const Value& device, const Value& in, const std::vector<std::string>& codes) {
  static constexpr std::string_view kKinds[] = {"Integer", "Boolean", "Enum", "Bitmap", "Json", "Raw", "String", ""};
  for (std::string_view kind : kKinds) {
    for (bool prefer : {true, false}) {
      auto got = data::resolve(device, codes, kind, prefer);
      if (!got.ok() || !got.value()) continue;
      const data::Role& role = *got.value();
      (void)role.read(device["status"]);
      (void)role.read(in["status"]);
      (void)role.write(in["value"]);
      (void)role.view().dump();
      (void)data::cover_words(role, in["names"], in["rules"]);
      auto back = record::read<data::Role>(record::write(role));
      check(back.ok() && back.value() == role);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  auto parsed = zefa::testing::parse_input(bytes, size);
  if (!parsed) return 0;
  const Value in = std::move(*parsed);

  Value device = in["device"];
  Value dpmap = in["dpmap"];
  const Value& quirk = in["quirk"];
  (void)data::cond(quirk["when"], in["status"]);
  data::ensure_tables(device);
  data::apply_quirk(device, dpmap, quirk);
  Value status = device["status"];
  data::map_initial_status(status, quirk);
  (void)data::device_info(device, quirk, in["rules"]).dump();
  (void)data::identity(in["identity"], in["defaults"]);

  // A bounded number of codes: those named by the input and by the tables.
  std::vector<std::string> codes = data::codes(in["codes"]);
  for (std::string_view section : {"function", "status_range"})
    for (const auto& m : device[section].obj())
      if (codes.size() < 16) codes.emplace_back(m.name());

  Adapter built = Adapter::make(device, dpmap, in["rules"]);
  check(built.enum_ranges.is_object() && built.unsupported.is_object() && built.remaps.is_object() &&
        built.remaps.size() == 0);
  for (const auto& m : built.unsupported.obj()) {
    const auto* e = built.entries.find(m.name());
    check(e && e->strategy == "default");
  }
  exercise_adapter(built, device, in, codes);

  // A carried document may hold anything in its loose members.
  auto carried = record::read<Adapter>(in["adapter"]);
  if (carried.ok()) exercise_adapter(carried.value(), device, in, codes);

  exercise_roles(device, in, codes);
  return 0;
}
