#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "expr/scope.hpp"
#include "test_util.hpp"

using zefa::expr::Scope;
using zefa::json::Value;
using zefa::test::J;

namespace {

struct Case {
  const char* expr;
  const char* want;  // compact result text, or "error: " and the message
};

const char* const kContext = R"({
  "a": {"b": [5]}, "s": "str", "arr": [0, 3, 4], "obj": {"": 9}, "nul": null, "x": 1
})";
const char* const kRules = R"({"features": {"f": {"one": 1, "four": 4, "neg": -1, "half": "2.9"}}})";
const char* const kFunctions = R"({
  "pair": {"params": ["a", "b"],
           "body": {"op": "record", "fields": {"a": {"op": "get", "path": "a"}, "b": {"op": "get", "path": "b"}}}},
  "caller": {"body": {"op": "get", "path": "s"}},
  "odd": {"params": [5, "p"], "body": {"op": "get", "path": ""}},
  "nobody": {"params": ["q"]},
  "self": {"body": {"op": "call", "fn": "self"}},
  "bad": 5
})";

// Evaluates every case in a fresh scope over the shared context and checks
// that the variable stack and nesting come back as they were.
void check(const std::vector<Case>& cases) {
  const Value ctx = J(kContext), rules = J(kRules), functions = J(kFunctions);
  for (const Case& c : cases) {
    Scope s = Scope(functions).with_fields(ctx).with("rules", rules);
    const size_t vars = s.size();
    auto r = s.eval(J(c.expr));
    EXPECT_EQ(r.ok() ? r.value().dump() : "error: " + r.error(), c.want) << c.expr;
    EXPECT_EQ(s.size(), vars) << c.expr;
    EXPECT_EQ(s.depth, 0u) << c.expr;
  }
}

}  // namespace

TEST(ExprOps, Conditionals) {
  check({
      {R"({"op":"if","condition":"0","then":1,"else":2})", "1"},
      {R"({"op":"if","condition":0,"then":1,"else":2})", "2"},
      {R"({"op":"if","condition":false,"then":1})", "null"},
      {R"({"op":"if","then":1,"else":2})", "2"},
      {R"({"op":"if","condition":true,"then":1,"else":{"op":"error","message":"no"}})", "1"},
      {R"({"op":"and"})", "true"},
      {R"({"op":"or"})", "false"},
      {R"({"op":"and","args":[false,{"op":"error","message":"no"}]})", "false"},
      {R"({"op":"and","args":[1,"x",[0]]})", "true"},
      {R"({"op":"or","args":[0,null,"",{}]})", "false"},
      {R"({"op":"or","args":[0,[1],{"op":"error","message":"no"}]})", "true"},
      {R"({"op":"and","args":5})", "true"},
      {R"({"op":"coalesce","args":[null,0,{"op":"error"}]})", "0"},
      {R"({"op":"coalesce","args":[null,null]})", "null"},
      {R"({"op":"coalesce"})", "null"},
      {R"({"op":"error","message":5})", "error: "},
      {R"({"op":"error","message":"boom"})", "error: boom"},
      {R"({"op":"error"})", "error: "},
  });
}

TEST(ExprOps, Loops) {
  check({
      {R"({"op":"map","args":[[1,2]],"do":{"op":"add","args":[{"op":"get","path":"item"},1]}})", "[2,3]"},
      {R"({"op":"map","args":[[1,2]],"as":"x","do":{"op":"get","path":"x"}})", "[1,2]"},
      {R"({"op":"map","args":[[1,2]],"as":5,"do":{"op":"get","path":""}})", "[1,2]"},
      {R"({"op":"map","args":[[1,2]],"as":null,"do":{"op":"get","path":"item","default":"none"}})",
       R"(["none","none"])"},
      {R"({"op":"map","args":["ab"],"do":1})", "[]"},
      {R"({"op":"map","args":[{"a":1}],"do":1})", "[]"},
      {R"({"op":"map","do":1})", "[]"},
      {R"({"op":"map","args":[[1],{"op":"error","message":"unused"}],"do":2})", "[2]"},
      {R"({"op":"map","args":[[1,2]]})", "[null,null]"},
      {R"({"op":"map","args":[[1,2]],"do":{"op":"error","message":"in body"}})", "error: in body"},
      {R"({"op":"map","args":[{"op":"get","path":"arr"}],"as":"x","do":{"op":"get","path":"s"}})",
       R"(["str","str","str"])"},
      // The loop variable hides an outer binding only while the loop runs.
      {R"({"op":"map","args":[[7]],"as":"s","do":{"op":"get","path":"s"}})", "[7]"},
      {R"({"op":"find","args":[[0,3,4]],"do":{"op":"gt","args":[{"op":"get","path":"item"},2]}})", "3"},
      {R"({"op":"find","args":[[0,3,{"op":"x"}]],"do":{"op":"gt","args":[{"op":"get","path":"item"},2]}})", "3"},
      {R"({"op":"find","args":[[0]],"do":{"op":"get","path":"item"}})", "null"},
      {R"({"op":"find","args":[[1,2]],"do":{"op":"if","condition":{"op":"eq","args":[{"op":"get","path":"item"},1]},
          "then":false,"else":true}})", "2"},
      {R"({"op":"filter","args":[[0,3,4,null]],"do":{"op":"get","path":"item"}})", "[3,4]"},
      {R"({"op":"filter","args":[5],"do":true})", "[]"},
      {R"({"op":"count","args":[[0,3,4,"",[]]],"do":{"op":"get","path":"item"}})", "2"},
      {R"({"op":"count","args":["abc"],"do":true})", "0"},
      {R"({"op":"all","args":[[]],"do":false})", "true"},
      {R"({"op":"any","args":[[]],"do":true})", "false"},
      {R"({"op":"any","args":[[0,1,{"op":"x"}]],"do":{"op":"get","path":"item"}})", "true"},
      {R"({"op":"any","args":[[0,1,"boom"]],
          "do":{"op":"if","condition":{"op":"eq","args":[{"op":"get","path":"item"},"boom"]},
                "then":{"op":"error","message":"late"},"else":{"op":"get","path":"item"}}})", "true"},
      {R"({"op":"all","args":[[1,0,"boom"]],
          "do":{"op":"if","condition":{"op":"eq","args":[{"op":"get","path":"item"},"boom"]},
                "then":{"op":"error","message":"late"},"else":{"op":"get","path":"item"}}})", "false"},
      {R"({"op":"all","args":[[1,2]],"do":{"op":"get","path":"item"}})", "true"},
      {R"({"op":"any","args":[null],"do":true})", "false"},
      {R"({"op":"all","args":[null],"do":false})", "true"},
      {R"({"op":"all","args":[[1]],"do":{"op":"error","message":"e"}})", "error: e"},
  });
}

TEST(ExprOps, Get) {
  check({
      {R"({"op":"get","path":"a.b"})", "[5]"},
      {R"({"op":"get","path":"a.b.0"})", "5"},
      {R"({"op":"get","path":"a.b.+0"})", "5"},
      {R"({"op":"get","path":"a.b.1"})", "null"},
      {R"({"op":"get","path":"a.c"})", "null"},
      {R"({"op":"get","path":"a.c","default":{"op":"add","args":[1,2]}})", "3"},
      {R"({"op":"get","path":"zz","default":"d"})", R"("d")"},
      {R"({"op":"get","path":"nul","default":"d"})", "null"},
      {R"({"op":"get","path":"a","default":{"op":"error","message":"not needed"}})", R"({"b":[5]})"},
      {R"({"op":"get","path":["a","b",0]})", "5"},
      {R"({"op":"get","path":["a",{"op":"literal","value":"b"},"0"]})", "5"},
      {R"({"op":"get","path":["a","b",0.0],"default":"d"})", R"("d")"},
      {R"({"op":"get","path":["a",{"op":"error","message":"seg"}],"default":"d"})", "error: seg"},
      {R"({"op":"get","path":[],"default":"d"})", R"("d")"},
      {R"({"op":"get","path":5,"default":"d"})", R"("d")"},
      {R"({"op":"get","default":"d"})", R"("d")"},
      {R"({"op":"get","path":"obj."})", "9"},
      {R"({"op":"get","path":["obj",1]})", "9"},
      {R"({"op":"get","path":"s.0","default":"d"})", R"("d")"},
      {R"({"op":"get","path":"arr.-1","default":"d"})", R"("d")"},
      {R"({"op":"get","path":"rules.features.f.four"})", "4"},
  });
}

TEST(ExprOps, LetCallRecordLiteral) {
  check({
      {R"({"op":"let","bind":{"x":1,"y":{"op":"add","args":[{"op":"get","path":"x"},1]}},"in":{"op":"get","path":"y"}})",
       "2"},
      {R"({"op":"let","bind":{"s":"inner"},"in":{"op":"get","path":"s"}})", R"("inner")"},
      {R"({"op":"let","bind":[1],"in":{"op":"get","path":"s"}})", R"("str")"},
      {R"({"op":"let","bind":{"x":1}})", "null"},
      {R"({"op":"let","bind":{"x":{"op":"error","message":"bind"}},"in":1})", "error: bind"},
      {R"({"op":"let","bind":{"x":1},"in":{"op":"error","message":"in"}})", "error: in"},
      {R"({"op":"call","fn":"pair","args":[1]})", R"({"a":1,"b":null})"},
      {R"({"op":"call","fn":"pair","args":[1,2,{"op":"add","args":[1,1]}]})", R"({"a":1,"b":2})"},
      {R"({"op":"call","fn":"caller"})", R"("str")"},
      {R"({"op":"call","fn":"odd","args":[7,8]})", "7"},
      {R"({"op":"call","fn":"nobody","args":[1]})", "null"},
      {R"({"op":"call","fn":"missing","args":[{"op":"error","message":"not evaluated"}]})",
       "error: unknown function missing"},
      {R"({"op":"call","fn":"bad"})", "error: unknown function bad"},
      {R"({"op":"call","fn":5})", "error: unknown function "},
      {R"({"op":"call","fn":"pair","args":[{"op":"error","message":"arg"}]})", "error: arg"},
      {R"({"op":"call","fn":"self"})", "error: rule nesting limit exceeded"},
      {R"({"op":"record","fields":{"b":{"op":"add","args":[1,1]},"a":"x","c":{"op":5}}})",
       R"({"b":2,"a":"x","c":{"op":5}})"},
      {R"({"op":"record","fields":[1]})", "{}"},
      {R"({"op":"record","fields":{"a":{"op":"error","message":"f"}}})", "error: f"},
      {R"({"op":"literal","value":{"op":"add"}})", R"({"op":"add"})"},
      {R"({"op":"literal"})", "null"},
  });
}

TEST(ExprOps, Features) {
  check({
      {R"({"op":"flags","table":"f","when":{"one":true,"four":1,"neg":0}})", "5"},
      {R"({"op":"flags","table":"f"})", "0"},
      {R"({"op":"flags","table":"f","when":{"neg":true}})", "-1"},
      {R"({"op":"flags","table":{"op":"literal","value":"f"},"when":{"half":"yes"}})", "2"},
      {R"({"op":"flags","table":5,"when":{"one":true}})", "0"},
      {R"({"op":"flags","table":"f","when":{"one":{"op":"error","message":"w"}}})", "error: w"},
      {R"({"op":"flag","args":["f","four",4]})", "true"},
      {R"({"op":"flag","args":["f","four",3]})", "false"},
      {R"({"op":"flag","args":["f","neg","-9.5"]})", "true"},
      {R"({"op":"flag","args":["f","four"]})", "false"},
      {R"({"op":"flag","args":["f","missing",-1]})", "false"},
      {R"({"op":"flag","args":[1,"four",4]})", "false"},
  });
}

TEST(ExprOps, Comparison) {
  check({
      {R"({"op":"eq","args":[1,1.0]})", "true"},
      {R"({"op":"same","args":[1,1.0]})", "false"},
      {R"({"op":"same","args":[{"a":1,"b":2},{"b":2,"a":1}]})", "true"},
      {R"({"op":"same","args":[[1,2],[2,1]]})", "false"},
      {R"({"op":"same","args":["a","a"]})", "true"},
      {R"({"op":"same"})", "true"},
      {R"({"op":"eq","args":[true,1]})", "true"},
      {R"({"op":"eq","args":["1",1]})", "false"},
      {R"({"op":"eq","args":[[1],[1.0]]})", "false"},
      {R"({"op":"ne","args":[1,2]})", "true"},
      {R"({"op":"ne","args":[false,0]})", "false"},
      {R"({"op":"lt","args":["1",2]})", "false"},
      {R"({"op":"lt","args":[1,2]})", "true"},
      {R"({"op":"lt","args":[2,2]})", "false"},
      {R"({"op":"le","args":[2,2.0]})", "true"},
      {R"({"op":"gt","args":[-1,-2]})", "true"},
      {R"({"op":"ge","args":[1,null]})", "false"},
      {R"({"op":"gt","args":[true,0]})", "false"},
      {R"({"op":"lt","args":[18446744073709551615,1e300]})", "true"},
  });
}

TEST(ExprOps, Arithmetic) {
  check({
      {R"({"op":"add","args":["1",2]})", "null"},
      {R"({"op":"add","args":[0.5,0.5]})", "1"},
      {R"({"op":"add","args":[1,2]})", "3"},
      {R"({"op":"add","args":[1,-3]})", "-2"},
      {R"({"op":"add","args":[1]})", "null"},
      {R"({"op":"add","args":[1,2,"ignored"]})", "3"},
      {R"({"op":"add","args":[1,2,{"op":"error","message":"extra"}]})", "error: extra"},
      {R"({"op":"sub","args":[1,2.5]})", "-1.5"},
      {R"({"op":"mul","args":[1e10,1e10]})", "1e+20"},
      {R"({"op":"mul","args":[3,true]})", "null"},
      {R"({"op":"div","args":[1,0]})", "null"},
      {R"({"op":"div","args":[0,0]})", "null"},
      {R"({"op":"div","args":[1,4]})", "0.25"},
      {R"({"op":"div","args":[-0.0,1]})", "0"},
      {R"({"op":"min","args":[3,-1.5]})", "-1.5"},
      {R"({"op":"max","args":[3,-1.5]})", "3"},
      {R"({"op":"max","args":[3,"9"]})", "null"},
      {R"({"op":"num","args":["12"]})", "12"},
      {R"({"op":"num","args":[true]})", "1"},
      {R"({"op":"num","args":["abc"]})", "0"},
      {R"({"op":"num","args":[null]})", "0"},
      {R"({"op":"num","args":[[1]]})", "0"},
      {R"({"op":"num","args":["NaN"]})", "null"},
      {R"({"op":"num","args":["1.5"]})", "1.5"},
      {R"({"op":"num"})", "0"},
      {R"({"op":"floor","args":[-1.5]})", "-2"},
      {R"({"op":"floor","args":["3.7"]})", "null"},
      {R"({"op":"floor","args":[1e300]})", "1e+300"},
      {R"({"op":"round_half_even","args":[2.5]})", "2"},
      {R"({"op":"round_half_even","args":[3.5]})", "4"},
      {R"({"op":"round_half_even","args":[-2.5]})", "-2"},
      {R"({"op":"round_half_even","args":[-3.5]})", "-4"},
      {R"({"op":"round_half_even","args":[2.4999999999999996]})", "2"},
      {R"({"op":"round_half_even","args":[-0.4]})", "0"},
      {R"({"op":"round_half_even","args":[0.5000000000000001]})", "1"},
      {R"({"op":"round_half_even","args":[4503599627370497]})", "4503599627370497"},
      {R"({"op":"round_half_even","args":[true]})", "null"},
      {R"({"op":"remap","args":[5,0,10,0,100]})", "50"},
      {R"({"op":"remap","args":[20,0,10,0,100]})", "200"},
      {R"({"op":"remap","args":[5,0,10,0]})", "null"},
      {R"({"op":"remap","args":["5"]})", "null"},
      {R"({"op":"remap","args":[5,0,10,0,100,1]})", "null"},
      {R"({"op":"remap","args":[5,0,10,"0",100]})", "null"},
      {R"({"op":"remap","args":[5,1,1,0,100]})", "null"},
  });
}

TEST(ExprOps, BitsTypesAndLogic) {
  check({
      {R"({"op":"bit_test","args":[5,2]})", "true"},
      {R"({"op":"bit_test","args":[5,1]})", "false"},
      {R"({"op":"bit_test","args":[5,64]})", "false"},
      {R"({"op":"bit_test","args":[-1,63]})", "true"},
      {R"({"op":"bit_test","args":[5,-1]})", "true"},
      {R"({"op":"bit_test","args":[5,"2"]})", "true"},
      {R"({"op":"bit_test","args":[5,2.9]})", "true"},
      {R"({"op":"bit_test","args":[5,1e20]})", "false"},
      {R"({"op":"bit_test","args":[5.9,0]})", "true"},
      {R"({"op":"bit_test","args":["5",0]})", "false"},
      {R"({"op":"bit_test","args":[1e300,63]})", "false"},
      {R"({"op":"bit_test","args":[1e300,62]})", "true"},
      {R"({"op":"is_integer","args":[3]})", "true"},
      {R"({"op":"is_integer","args":[-3]})", "true"},
      {R"({"op":"is_integer","args":[3.0]})", "false"},
      {R"({"op":"is_integer","args":["3"]})", "false"},
      {R"({"op":"is_number","args":[3.5]})", "true"},
      {R"({"op":"is_number","args":["3"]})", "false"},
      {R"({"op":"is_null"})", "true"},
      {R"({"op":"is_null","args":[0]})", "false"},
      {R"({"op":"type_of"})", R"("null")"},
      {R"({"op":"type_of","args":[false]})", R"("boolean")"},
      {R"({"op":"type_of","args":[1.5]})", R"("number")"},
      {R"({"op":"type_of","args":[""]})", R"("string")"},
      {R"({"op":"type_of","args":[[]]})", R"("array")"},
      {R"({"op":"type_of","args":[{}]})", R"("object")"},
      {R"({"op":"not","args":["0"]})", "false"},
      {R"({"op":"not","args":[0.0]})", "true"},
      {R"({"op":"not"})", "true"},
      {R"({"op":"truthy","args":[[0]]})", "true"},
      {R"({"op":"truthy","args":[{}]})", "false"},
      {R"({"op":"some","args":[[1]]})", "[1]"},
      {R"({"op":"some","args":[0]})", "null"},
      {R"({"op":"some","args":[""]})", "null"},
  });
}

TEST(ExprOps, UnknownNames) {
  check({
      {R"({"op":"frobnicate"})", "error: unknown expression op frobnicate"},
      {R"({"op":"frobnicate","args":[{"op":"error","message":"first"}]})", "error: first"},
      {R"({"op":"Add","args":[1,2]})", "error: unknown expression op Add"},
      {R"({"op":"","args":[1]})", "error: unknown expression op "},
      {R"({"op":"round_half_even_","args":[1]})", "error: unknown expression op round_half_even_"},
  });
}

// Every name of the vocabulary is an operator: none of them answers "unknown".
TEST(ExprOps, Vocabulary) {
  const char* names[] = {
      "if", "or", "and", "get", "let", "map", "any", "all", "call", "find", "error", "count", "flags", "record",
      "filter", "literal", "coalesce", "eq", "ne", "lt", "le", "gt", "ge", "not", "add", "sub", "mul", "div", "min",
      "max", "num", "same", "some", "flag", "floor", "remap", "truthy", "is_null", "type_of", "bit_test",
      "is_number", "is_integer", "round_half_even", "zip", "len", "hex", "list", "sort", "keys", "text", "range",
      "codes", "lower", "concat", "object", "lookup", "values", "flatten", "without", "entries", "replace",
      "contains", "index_of", "trim_end", "hex_ints", "b64_utf8", "to_string", "ends_with", "str_concat",
      "capitalize", "trim_start", "parse_json", "starts_with", "b64_utf16be", "hs_to_rgb_hex", "rgb_hex_to_hs",
      "electricity_b64", "electricity_hex"};
  EXPECT_EQ(std::size(names), 78u);
  const Value functions = J(R"({"f":{}})");
  for (const char* name : names) {
    Scope s(functions);
    auto r = s.eval(Value(zefa::json::Object{{"op", name}, {"fn", "f"}, {"args", zefa::json::Array{1}}}));
    EXPECT_TRUE(r.ok() || r.error().rfind("unknown expression op", 0) != 0) << name;
  }
}

TEST(ExprOps, ResultsAreCharged) {
  const Value ctx = J(R"({"big": [1, 2, 3, {"k": "abcd"}]})");
  Scope s = Scope().with_fields(ctx);
  ASSERT_TRUE(s.eval(J(R"({"op":"get","path":"big"})")).ok());
  // A text "path" is read, not evaluated; the copy returned costs 6 nodes, 5 bytes.
  EXPECT_EQ(s.nodes, zefa::expr::limits::kNodes - 6);
  EXPECT_EQ(s.bytes, zefa::expr::limits::kBytes - 5);
  // Untaken branches cost nothing.
  Scope t;
  ASSERT_TRUE(t.eval(J(R"({"op":"if","condition":true,"then":1,"else":{"op":"add","args":[1,2]}})")).ok());
  EXPECT_EQ(t.ops, zefa::expr::limits::kOps - 1);
  EXPECT_EQ(t.nodes, zefa::expr::limits::kNodes - 3);  // condition, then, result
}
