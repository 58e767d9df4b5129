#include "rules/cover_settings.hpp"

#include "data/data.hpp"

namespace zefa::rules {

json::Value SettleCodec::write(double x) { return data::number(x); }

json::Value CoverSettings::serialize() const { return record::write(*this); }

Result<CoverSettings, std::string> CoverSettings::from_rules(const json::Value& value) {
  auto r = record::read<CoverSettings>(value);
  if (!r.ok()) return fail("cover_defaults: " + r.error());
  return r;
}

bool CoverSettings::known(std::string_view key) {
  // The field names are the members of the JSON form.
  static const json::Value form = record::defaults<CoverSettings>().serialize();
  return form.find(key) != nullptr;
}

bool CoverSettings::set(CoverSettings& settings, std::string_view key, const json::Value& value) {
  json::Value form = settings.serialize();
  json::Value* slot = form.obj_mut().find(key);
  if (!slot) return false;
  *slot = value;
  auto r = record::read<CoverSettings>(form);
  if (!r.ok()) return false;
  settings = std::move(r).value();
  return true;
}

}  // namespace zefa::rules
