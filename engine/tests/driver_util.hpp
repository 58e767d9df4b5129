// Driver state documents in tests: every one a test meets must read back and
// be written again to the same bytes.
#pragma once

#include <gtest/gtest.h>

#include <string_view>

#include "driver/driver.hpp"
#include "json.hpp"

namespace zefa::test {

// The document of a reply text: a "driver" member of the value, or the value
// itself when it is a snapshot.
inline void expect_documents_round_trip(std::string_view reply) {
  auto parsed = json::parse(reply);
  if (!parsed) return;
  const json::Value r = std::move(parsed).value();
  if (!r["ok"].as_bool()) return;
  const json::Value& value = r["value"];
  const json::Value* doc = value.find("driver");
  if (!doc || !doc->is_object()) doc = value.find("rules_fingerprint") && value.find("seq") ? &value : nullptr;
  if (!doc) return;
  auto d = driver::Driver::deserialize(*doc);
  ASSERT_TRUE(d.ok()) << d.error();
  EXPECT_EQ(d.value().serialize().dump(), doc->dump());
}

}  // namespace zefa::test
