#include "data/role.hpp"

#include <gtest/gtest.h>

#include "data/data.hpp"
#include "fn_cases.hpp"

using zefa::data::Role;
using zefa::json::Value;
using zefa::test::Args;
namespace data = zefa::data;
namespace record = zefa::record;

namespace {

Role role(const Value& v) {
  auto r = record::read<Role>(v);
  EXPECT_TRUE(r.ok()) << v.dump();
  return r.ok() ? r.value() : Role{};
}

Value written(const Role& r) { return record::write(r); }

}  // namespace

TEST(DataRole, Cases) {
  zefa::test::run_cases("data_role.json", {
      {"read", [](const Args& a) { return role(a[0]).read(a[1]); }},
      {"write", [](const Args& a) { return zefa::test::outcome(role(a[0]).write(a[1]), [](const Value& v) { return v; }); }},
      {"scale", [](const Args& a) {
         Role r{"dp", zefa::protocol::DpKind::Integer, Value(zefa::json::Object{{"scale", a[0]}}), Value()};
         return zefa::test::num(r.scale());
       }},
      {"view", [](const Args& a) { return role(a[0]).view(); }},
      {"record", [](const Args& a) { return zefa::test::outcome(record::read<Role>(a[0]), written); }},
      {"resolve", [](const Args& a) {
         std::vector<std::string> codes = data::codes(a[1]);
         auto r = data::resolve(a[0], codes, a[2].str(), a[3].as_bool());
         return zefa::test::outcome(r, [](const auto& found) { return found ? written(*found) : Value(); });
       }},
      {"cover_words", [](const Args& a) { return data::cover_words(role(a[1]), a[2], a[0]); }},
  });
}
