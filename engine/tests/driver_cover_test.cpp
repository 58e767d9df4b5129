// Covers: their JSON forms, setting values, which settings apply, and the
// override block's part for one cover (data/cases/driver_cover.json).
#include "driver/cover.hpp"

#include <gtest/gtest.h>

#include "fn_cases.hpp"

namespace zefa {
namespace {

using driver::cover::Cover;
using json::Value;
using test::Args;

Cover cover(const Value& v) {
  auto r = record::read<Cover>(v);
  EXPECT_TRUE(r.ok()) << v.dump() << (r.ok() ? "" : r.error());
  return r.ok() ? r.value() : Cover{};
}

// The written form, after checking that it reads back as the same cover.
Value written(const Cover& c) {
  const Value form = c.serialize();
  EXPECT_EQ(cover(form), c) << form.dump();
  return form;
}

std::optional<std::string> group(const Value& v) {
  return v.is_string() ? std::optional<std::string>(v.str()) : std::nullopt;
}

TEST(DriverCover, Cases) {
  test::run_cases("driver_cover.json", {
      {"form", [](const Args& a) { return test::outcome(record::read<Cover>(a[0]), written); }},
      {"value", [](const Args& a) { return cover(a[0]).value(a[1].str()); }},
      {"applies", [](const Args& a) { return Value(cover(a[0]).applies(a[1].str())); }},
      {"own", [](const Args& a) { return driver::cover::own(a[0], group(a[1])); }},
  });
}

}  // namespace
}  // namespace zefa
