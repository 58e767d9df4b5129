#include "text.hpp"

#include <gtest/gtest.h>

#include "fn_cases.hpp"

using zefa::json::Value;
using zefa::test::Args;
namespace text = zefa::text;

TEST(Text, Cases) {
  zefa::test::run_cases("text_ops.json", {
      {"lower", [](const Args& a) { return Value(text::lower(a[0].str())); }},
      {"upper", [](const Args& a) { return Value(text::upper(a[0].str())); }},
      {"capitalize", [](const Args& a) { return Value(text::capitalize(a[0].str())); }},
      {"length", [](const Args& a) { return Value(text::length(a[0].str())); }},
      {"on_boundary", [](const Args& a) { return Value(text::on_boundary(a[0].str(), a[1].as_u64())); }},
      {"trim_white_space", [](const Args& a) { return Value(text::trim_white_space(a[0].str())); }},
      {"from_utf16be", [](const Args& a) {
         std::string b = zefa::test::bytes(a[0]);
         auto s = text::from_utf16be({reinterpret_cast<const uint8_t*>(b.data()), b.size()});
         return s ? Value(*s) : Value();
       }},
  });
}
