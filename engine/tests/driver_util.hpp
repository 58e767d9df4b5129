// Driver state documents in tests: every one a test meets must read back and
// be written again to the same bytes.
#pragma once

#include <gtest/gtest.h>

#include <string_view>

#include "driver/driver.hpp"
#include "json.hpp"

namespace zefa::test {

inline void expect_round_trip(const json::Value& document) {
  auto d = driver::Driver::deserialize(document);
  ASSERT_TRUE(d.ok()) << d.error();
  EXPECT_EQ(d.value().serialize().dump(), document.dump());
}

// The documents of a reply text: a "driver" member of the value, or the
// value itself when it is a snapshot.
inline void expect_documents_round_trip(std::string_view reply) {
  auto parsed = json::parse(reply);
  if (!parsed) return;
  const json::Value r = std::move(parsed).value();
  if (!r["ok"].as_bool()) return;
  const json::Value& value = r["value"];
  if (const json::Value* doc = value.find("driver"); doc && doc->is_object()) expect_round_trip(*doc);
  else if (value.find("rules_fingerprint") && value.find("seq")) expect_round_trip(value);
}

}  // namespace zefa::test
