#include "driver/cover.hpp"

namespace zefa::driver::cover {

Value Cover::serialize() const { return record::write(*this); }

Value Cover::value(std::string_view key) const {
  const Value form = settings.serialize();
  const Value* member = form.find(key);
  return member ? *member : Value();
}

bool Cover::applies(std::string_view key) const {
  const bool distinct = !cur || !setp || cur->code != setp->code;
  if (key == "invert_position") return cur.has_value();
  if (key == "invert_set_position") return setp && distinct;
  if (key == "invert_control") return ins && !setp;
  if (key == "position_from_target") return position_choice;
  if (key == "state_source") return cur || ins;
  if (key == "invert_reported_motion") return ins && settings.state_source == protocol::StateSource::Control;
  return true;
}

Value own(const Value& block, const std::optional<std::string>& group) {
  const Value& part = block["cover"];
  if (!group) return part;
  return part[*group];
}

}  // namespace zefa::driver::cover
