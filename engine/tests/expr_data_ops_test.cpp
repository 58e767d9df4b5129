#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "expr/scope.hpp"
#include "test_util.hpp"

using zefa::expr::Scope;
using zefa::json::Value;
using zefa::test::J;
namespace limits = zefa::expr::limits;

namespace {

struct Case {
  const char* expr;
  const char* want;  // compact result text, or "error: " and the message
};

std::string show(const zefa::expr::Eval& r) { return r.ok() ? r.value().dump() : "error: " + r.error(); }

void check(const std::vector<Case>& cases) {
  const Value ctx = J(R"({"obj": {"b": 1, "a": 2}, "arr": [10, 20]})");
  for (const Case& c : cases) {
    Scope s = Scope().with_fields(ctx);
    EXPECT_EQ(show(s.eval(J(c.expr))), c.want) << c.expr;
    EXPECT_EQ(s.depth, 0u) << c.expr;
  }
}

// An array of `n` small integers: n + 1 nodes.
Value numbers(size_t n) {
  zefa::json::Array a;
  for (size_t i = 0; i < n; ++i) a.emplace_back(i % 7);
  return Value(std::move(a));
}

}  // namespace

TEST(ExprDataOps, BuildingLists) {
  check({
      {R"({"op":"list","args":[1,[2],null]})", "[1,[2],null]"},
      {R"({"op":"list"})", "[]"},
      {R"({"op":"concat","args":[1,[2,3],null]})", "[1,2,3]"},
      {R"({"op":"concat","args":[{"a":1},[[4]],"s",false]})", R"([{"a":1},[4],"s",false])"},
      {R"({"op":"zip","args":[[1,2,3],["a","b"]]})", R"([[1,"a"],[2,"b"]])"},
      {R"({"op":"zip","args":["ab",[1]]})", "[]"},
      {R"({"op":"zip","args":[[1]]})", "[]"},
      {R"({"op":"object","args":[["a",1],["b"],[5,2],["a",3]]})", R"({"a":3,"b":null,"":2})"},
      {R"({"op":"object","args":[5,{"0":"x"},[]]})", R"({"":null})"},
      {R"({"op":"object"})", "{}"},
      {R"({"op":"object","args":[["k",1,2]]})", R"({"k":1})"},
      {R"({"op":"flatten","args":[[[1,2],3,[4]]]})", "[1,2,4]"},
      {R"({"op":"flatten","args":[[[[1]],{"a":[2]}]]})", "[[1]]"},
      {R"({"op":"flatten","args":[{"a":[1]}]})", "[]"},
  });
}

TEST(ExprDataOps, TakingApart) {
  check({
      {R"({"op":"keys","args":[{"b":1,"a":2}]})", R"(["b","a"])"},
      {R"({"op":"keys","args":[[1]]})", "[]"},
      {R"({"op":"values","args":[{"b":1,"a":[2]}]})", "[1,[2]]"},
      {R"({"op":"values","args":["ab"]})", "[]"},
      {R"({"op":"entries","args":[{"b":1,"a":2}]})", R"([["b",1],["a",2]])"},
      {R"({"op":"entries","args":[null]})", "[]"},
      {R"({"op":"without","args":[[1,1.0,2],1]})", "[1.0,2]"},
      {R"({"op":"without","args":[[[1],[1.0],{"a":1}],[1]]})", R"([[1.0],{"a":1}])"},
      {R"({"op":"without","args":[[true,1]]})", "[true,1]"},
      {R"({"op":"without","args":["aba","a"]})", "[]"},
      {R"({"op":"lookup","args":[{"a":1},"a"]})", "1"},
      {R"({"op":"lookup","args":[{"a":1},"b"]})", "null"},
      {R"({"op":"lookup","args":[{"a":1},"b"],"default":{"op":"add","args":[1,2]}})",
       R"({"op":"add","args":[1,2]})"},
      {R"({"op":"lookup","args":[[10,20],1]})", "20"},
      {R"({"op":"lookup","args":[[10,20],"+1"]})", "20"},
      {R"({"op":"lookup","args":[[10,20],1.0],"default":"d"})", R"("d")"},
      {R"({"op":"lookup","args":[[10,20],-1],"default":"d"})", R"("d")"},
      {R"({"op":"lookup","args":[{"":7},0]})", "7"},
      {R"({"op":"lookup","args":["abc",0],"default":"d"})", R"("d")"},
      {R"({"op":"index_of","args":[[1.0,1],1]})", "1"},
      {R"({"op":"index_of","args":[[1],"1"]})", "null"},
      {R"({"op":"index_of","args":[[{"b":1,"a":2}],{"a":2,"b":1}]})", "0"},
      {R"({"op":"index_of","args":["abc","b"]})", "null"},
  });
}

TEST(ExprDataOps, SortLenContains) {
  check({
      {R"({"op":"sort","args":[["b","a",3,"A"]]})", R"([3,"A","a","b"])"},
      {R"({"op":"sort","args":[[10,9]]})", "[10,9]"},
      {R"({"op":"sort","args":[["ab","a","",null,"b"]]})", R"(["",null,"a","ab","b"])"},
      {R"({"op":"sort","args":[["\u00e9","z","Z"]]})", R"(["Z","z","é"])"},  // bytes, not letters
      {R"({"op":"sort","args":[{"b":1,"a":2}]})", "[]"},
      {R"({"op":"len","args":["é€"]})", "2"},  // five bytes
      {R"({"op":"len","args":["😀a"]})", "2"},
      {R"({"op":"len","args":[""]})", "0"},
      {R"({"op":"len","args":[[1,[2,3]]]})", "2"},
      {R"({"op":"len","args":[{"a":1}]})", "1"},
      {R"({"op":"len","args":[5]})", "null"},
      {R"({"op":"len"})", "null"},
      {R"({"op":"contains","args":["abc","b"]})", "true"},
      {R"({"op":"contains","args":["abc",""]})", "true"},
      {R"({"op":"contains","args":["abc","abcd"]})", "false"},
      {R"({"op":"contains","args":["abc",1]})", "false"},
      {R"({"op":"contains","args":[[1.0],1]})", "true"},
      {R"({"op":"contains","args":[[1],true]})", "true"},
      {R"({"op":"contains","args":[[[1]],[1.0]]})", "false"},
      {R"({"op":"contains","args":[["1"],1]})", "false"},
      {R"({"op":"contains","args":[{"a":1},"a"]})", "true"},
      {R"({"op":"contains","args":[{"":1},5]})", "true"},
      {R"({"op":"contains","args":[{"a":1},"b"]})", "false"},
      {R"({"op":"contains","args":[5,5]})", "false"},
  });
}

TEST(ExprDataOps, RangeAndCodes) {
  check({
      {R"({"op":"range","args":[3]})", "[0,1,2]"},
      {R"({"op":"range","args":[-2]})", "[]"},
      {R"({"op":"range","args":[2.9]})", "[0,1]"},
      {R"({"op":"range","args":["3"]})", "[0,1,2]"},
      {R"({"op":"range","args":["nan"]})", "[]"},
      {R"({"op":"range","args":[true]})", "[0]"},
      {R"({"op":"range"})", "[]"},
      {R"({"op":"range","args":[100000]})", "error: rule value size limit exceeded"},
      {R"({"op":"range","args":["inf"]})", "error: rule value size limit exceeded"},
      {R"({"op":"range","args":["-inf"]})", "[]"},
      {R"({"op":"codes","args":[["a",1,null]]})", R"(["a","",""])"},
      {R"({"op":"codes","args":["x"]})", R"(["x"])"},
      {R"({"op":"codes","args":[5]})", "[]"},
      {R"({"op":"codes","args":[{}]})", "[]"},
  });
  Scope s;
  auto r = s.eval(J(R"({"op":"range","args":[99999.5]})"));
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.value().size(), 99'999u);
  EXPECT_EQ(r.value()[99'998].as_u64(), 99'998u);
}

TEST(ExprDataOps, Strings) {
  check({
      {R"({"op":"text","args":[5]})", R"("")"},
      {R"({"op":"text","args":["a"]})", R"("a")"},
      {R"({"op":"to_string","args":[5.0]})", R"("5")"},
      {R"({"op":"to_string","args":[-0.0]})", R"("0")"},
      {R"({"op":"to_string","args":[2.5]})", R"("2.5")"},
      {R"({"op":"to_string","args":[1e15]})", R"("1000000000000000.0")"},
      {R"({"op":"to_string","args":[null]})", R"("")"},
      {R"({"op":"to_string","args":[[1,{"a":"b"}]]})", R"("[1,{\"a\":\"b\"}]")"},
      {R"({"op":"str_concat","args":["a",1,null]})", R"("a1")"},
      {R"({"op":"str_concat","args":[true,[2],1.5]})", R"("true[2]1.5")"},
      {R"({"op":"str_concat"})", R"("")"},
      {R"({"op":"trim_start","args":["xxabx","x"]})", R"("abx")"},
      {R"({"op":"trim_start","args":["xxabx","xx"]})", R"("abx")"},
      {R"({"op":"trim_start","args":["xxxab","xx"]})", R"("xab")"},
      {R"({"op":"trim_start","args":["  ab "]})", R"("  ab ")"},
      {R"({"op":"trim_start","args":["ab",5]})", R"("ab")"},
      {R"({"op":"trim_start","args":[5,"x"]})", "null"},
      {R"({"op":"trim_end","args":["xabxx","x"]})", R"("xab")"},
      {R"({"op":"trim_end","args":["abab","ab"]})", R"("")"},
      {R"({"op":"trim_end","args":["ab  "]})", R"("ab  ")"},
      {R"({"op":"trim_end","args":[["a"],"a"]})", "null"},
      {R"({"op":"starts_with","args":["abc","ab"]})", "true"},
      {R"({"op":"starts_with","args":["abc"]})", "true"},
      {R"({"op":"starts_with","args":["ab","abc"]})", "false"},
      {R"({"op":"starts_with","args":["abc","b"]})", "false"},
      {R"({"op":"starts_with","args":[5,""]})", "false"},
      {R"({"op":"ends_with","args":["abc","bc"]})", "true"},
      {R"({"op":"ends_with","args":["abc",7]})", "true"},
      {R"({"op":"ends_with","args":["c","abc"]})", "false"},
      {R"({"op":"ends_with","args":[123,"3"]})", "false"},
      {R"({"op":"parse_json","args":["{\"a\":[1]}"]})", R"({"a":[1]})"},
      {R"({"op":"parse_json","args":[" 1 "]})", "1"},
      {R"({"op":"parse_json","args":["\"x\""]})", R"("x")"},
      {R"({"op":"parse_json","args":["abc"]})", "null"},
      {R"({"op":"parse_json","args":["1 2"]})", "null"},
      {R"({"op":"parse_json","args":[[5]]})", "[5]"},
  });
}

TEST(ExprDataOps, Replace) {
  check({
      {R"({"op":"replace","args":["aaa","a","bb"]})", R"("bbbbbb")"},
      {R"({"op":"replace","args":["ab","","-"]})", R"("-a-b-")"},
      {R"({"op":"replace","args":["é€","","-"]})", R"("-é-€-")"},  // characters, not bytes
      {R"({"op":"replace","args":["","","x"]})", R"("x")"},
      {R"({"op":"replace","args":["abc",1,"x"]})", R"("xaxbxcx")"},  // a pattern that is no text is empty
      {R"({"op":"replace","args":["abcb","b"]})", R"("ac")"},
      {R"({"op":"replace","args":["aaaa","aa","a"]})", R"("aa")"},
      {R"({"op":"replace","args":["aaa","aa","b"]})", R"("ba")"},
      {R"({"op":"replace","args":["abc","x","y"]})", R"("abc")"},
      {R"({"op":"replace","args":["a.b.c",".","::"]})", R"("a::b::c")"},
      {R"({"op":"replace","args":[5,"5","6"]})", "null"},
  });
}

// Each limit is checked before the result is built; every case fails with its
// message and takes nothing from the scope's budgets for a result.
TEST(ExprDataOps, LimitsBeforeBuilding) {
  const Value ctx(zefa::json::Object{{"a", numbers(59'999)},
                                     {"b", numbers(59'999)},
                                     {"short", Value(std::string(1024, 'a'))},
                                     {"rep", Value(std::string(1025, 'b'))},
                                     {"rep_fit", Value(std::string(1024, 'b'))},
                                     {"half", Value(std::string(524'288, 'h'))},
                                     {"zeros", Value(std::string(100'000, '0'))},
                                     {"zeros_bad", Value(std::string(99'999, '0') + "g")}});
  const char* two = R"([{"op":"get","path":"a"},{"op":"get","path":"b"}])";
  const std::vector<Case> cases = {
      {"list", "error: rule value size limit exceeded"},
      {"zip", "error: rule value size limit exceeded"},
      {"concat", "error: rule value size limit exceeded"},
      {"object", "error: rule value size limit exceeded"},
      {"flatten", "error: rule value size limit exceeded"},
  };
  for (const Case& c : cases) {
    Scope s = Scope().with_fields(ctx);
    const std::string e = std::string(R"({"op":")") + c.expr + R"(","args":)" + two + "}";
    EXPECT_EQ(show(s.eval(J(e))), c.want) << c.expr;
    EXPECT_EQ(s.nodes, limits::kNodes - 2 * 60'000) << "only the arguments were charged";
    // One such argument alone fits.
    Scope t = Scope().with_fields(ctx);
    EXPECT_TRUE(t.eval(J(std::string(R"({"op":")") + c.expr + R"(","args":[{"op":"get","path":"a"}]})")).ok())
        << c.expr;
  }
  const std::vector<Case> texts = {
      {R"({"op":"replace","args":[{"op":"get","path":"short"},"a",{"op":"get","path":"rep"}]})",
       "error: rule text size limit exceeded"},
      {R"({"op":"str_concat","args":[{"op":"get","path":"half"},{"op":"get","path":"half"},"x"]})",
       "error: rule text size limit exceeded"},
      {R"({"op":"hex_ints","args":[{"op":"get","path":"zeros"},1,100000]})",
       "error: rule value size limit exceeded"},
      {R"({"op":"hex_ints","args":[{"op":"get","path":"zeros_bad"},1,100000]})", "null"},
      {R"({"op":"hex_ints","args":[{"op":"get","path":"zeros"},1,99999]})", "null"},  // wrong length
  };
  for (const Case& c : texts) {
    Scope s = Scope().with_fields(ctx);
    EXPECT_EQ(show(s.eval(J(c.expr))), c.want) << c.expr;
  }
  // At the limits themselves the results are built.
  Scope s = Scope().with_fields(ctx);
  auto r = s.eval(J(R"({"op":"replace","args":[{"op":"get","path":"short"},"a",{"op":"get","path":"rep_fit"}]})"));
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.value().str().size(), limits::kValueBytes);
  r = s.eval(J(R"({"op":"str_concat","args":[{"op":"get","path":"half"},{"op":"get","path":"half"}]})"));
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.value().str().size(), limits::kValueBytes);
  Scope t;
  r = t.eval(Value(zefa::json::Object{
      {"op", "hex_ints"}, {"args", zefa::json::Array{Value(std::string(99'999, 'f')), 1, 99'999}}}));
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.value().size(), 99'999u);
  EXPECT_EQ(r.value()[0].as_u64(), 15u);
}

// The list builders measure every argument, whatever its type and whether
// they use it: nesting of an argument counts against them before anything.
TEST(ExprDataOps, MeasuringCountsUnusedArguments) {
  const Value ctx(zefa::json::Object{{"a", numbers(59'999)}, {"b", numbers(59'999)}});
  Scope s = Scope().with_fields(ctx);
  EXPECT_EQ(show(s.eval(J(R"({"op":"zip","args":[[1],[2],{"op":"get","path":"a"},{"op":"get","path":"b"}]})"))),
            "error: rule value size limit exceeded");
  Scope t = Scope().with_fields(ctx);
  EXPECT_EQ(show(t.eval(J(R"({"op":"flatten","args":[5,{"op":"get","path":"a"},{"op":"get","path":"b"}]})"))),
            "error: rule value size limit exceeded");
}

TEST(ExprDataOps, Hex) {
  check({
      {R"({"op":"hex","args":[255,4]})", R"("00ff")"},
      {R"({"op":"hex","args":[255,0]})", R"("ff")"},
      {R"({"op":"hex","args":[255]})", R"("ff")"},
      {R"({"op":"hex","args":[255,-0.0]})", R"("ff")"},
      {R"({"op":"hex","args":[255,2.9]})", R"("ff")"},
      {R"({"op":"hex","args":[255.9,3]})", R"("0ff")"},
      {R"({"op":"hex","args":["16",3]})", R"("010")"},
      {R"({"op":"hex","args":[0]})", R"("0")"},
      {R"({"op":"hex","args":[-1,0]})", R"("ffffffffffffffff")"},
      {R"({"op":"hex","args":[-1,20]})", R"("0000ffffffffffffffff")"},
      {R"({"op":"hex","args":[1e300]})", R"("7fffffffffffffff")"},
      {R"({"op":"hex","args":[-1e300]})", R"("8000000000000000")"},
      {R"({"op":"hex","args":["nan",2]})", R"("00")"},
      {R"({"op":"hex","args":[255,-1]})", "error: rule text size limit exceeded"},
      {R"({"op":"hex","args":[255,-0.5]})", "error: rule text size limit exceeded"},
      {R"({"op":"hex","args":[255,1048577]})", "error: rule text size limit exceeded"},
      {R"({"op":"hex","args":[255,"inf"]})", "error: rule text size limit exceeded"},
      {R"({"op":"hex","args":[255,"nan"]})", "error: rule text size limit exceeded"},
  });
  Scope s;
  auto r = s.eval(J(R"({"op":"hex","args":[255,70000]})"));
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.value().str().size(), 70'000u);
  EXPECT_TRUE(r.value().str().ends_with("000ff"));
  r = s.eval(J(R"({"op":"hex","args":[255,1048576]})"));
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.value().str().size(), limits::kValueBytes);
}

// Full Unicode case mapping; "len" counts characters.
TEST(ExprDataOps, UnicodeCase) {
  check({
      {R"({"op":"lower","args":["ABC def"]})", R"("abc def")"},
      {R"({"op":"lower","args":["ΟΔΟΣ ΚΑΙ ΣΑ"]})", R"("οδος και σα")"},  // final sigma only at a word's end
      {R"({"op":"lower","args":["ΑΣ\u0301"]})", "\"ας\u0301\""},  // a combining mark after it
      {R"({"op":"lower","args":["Α\u0301Σ"]})", "\"α\u0301ς\""},
      {R"({"op":"lower","args":["Σ"]})", R"("σ")"},
      {R"({"op":"lower","args":["İ"]})", R"("i̇")"},  // two characters, no Turkish tailoring
      {R"({"op":"lower","args":["ẞ"]})", R"("ß")"},
      {R"({"op":"lower","args":["A\u0301"]})", "\"a\u0301\""},
      {R"({"op":"lower","args":[5]})", "null"},
      {R"({"op":"len","args":[{"op":"lower","args":["İ"]}]})", "2"},
      {R"({"op":"capitalize","args":["hELLO"]})", R"("Hello")"},
      {R"({"op":"capitalize","args":[""]})", R"("")"},
      {R"({"op":"capitalize","args":[null]})", "null"},
      {R"({"op":"capitalize","args":["ßa"]})", R"("SSa")"},         // one character becomes two
      {R"({"op":"capitalize","args":["ŉX"]})", R"("ʼNx")"},
      {R"({"op":"capitalize","args":["ǆEMAL"]})", R"("Ǆemal")"},    // upper case, not title case
      {R"({"op":"capitalize","args":["éCOLE"]})", R"("École")"},
      {R"({"op":"capitalize","args":["iSTANBUL"]})", R"("Istanbul")"},
      {R"({"op":"capitalize","args":["İSTANBUL"]})", R"("İstanbul")"},
      {R"({"op":"capitalize","args":["a\u0301BC"]})", "\"A\u0301bc\""},
      {R"({"op":"capitalize","args":["ὈΔΥΣΣΕΎΣ"]})", R"("Ὀδυσσεύς")"},
      {R"({"op":"capitalize","args":["1ABC"]})", R"("1abc")"},
  });
}

TEST(ExprDataOps, Bytes) {
  check({
      {R"({"op":"b64_utf8","args":["aGVsbG8="]})", R"("hello")"},
      {R"({"op":"b64_utf8","args":["aGVs\nbG8="]})", R"("hello")"},
      {R"({"op":"b64_utf8","args":["w6k="]})", R"("é")"},
      {R"({"op":"b64_utf8","args":[""]})", R"("")"},
      {R"({"op":"b64_utf8","args":["aGVsbG8"]})", "null"},  // padding missing
      {R"({"op":"b64_utf8","args":["/w=="]})", "null"},     // 0xFF is no UTF-8
      {R"({"op":"b64_utf8","args":["7aCA"]})", "null"},     // an encoded surrogate
      {R"({"op":"b64_utf8","args":[5]})", "null"},
      {R"({"op":"b64_utf16be","args":["AEE="]})", R"("A")"},
      {R"({"op":"b64_utf16be","args":["AEFC"]})", "null"},  // three bytes
      {R"({"op":"b64_utf16be","args":["2D3eAA=="]})", R"("😀")"},
      {R"({"op":"b64_utf16be","args":["2D0="]})", "null"},      // a lone high surrogate
      {R"({"op":"b64_utf16be","args":["AEHYPQBB"]})", "null"},  // high surrogate before A
      {R"({"op":"b64_utf16be","args":["3gAAQQ=="]})", "null"},  // a lone low surrogate
      {R"({"op":"b64_utf16be","args":["AA=="]})", "null"},
      {R"({"op":"b64_utf16be","args":[""]})", R"("")"},
      {R"({"op":"b64_utf16be","args":[null]})", "null"},
      {R"({"op":"hex_ints","args":["0a0B",2,2]})", "[10,11]"},
      {R"({"op":"hex_ints","args":["0a0",2,2]})", "null"},
      {R"({"op":"hex_ints","args":["0a0B",2.9,"2"]})", "[10,11]"},
      {R"({"op":"hex_ints","args":["",-1,-5]})", "[]"},
      {R"({"op":"hex_ints","args":["ff",0,1]})", "null"},
      {R"({"op":"hex_ints","args":["é",1,2]})", "null"},
      {R"({"op":"hex_ints","args":[5,1,1]})", "null"},
  });
}

TEST(ExprDataOps, Colour) {
  check({
      {R"({"op":"hs_to_rgb_hex","args":[[0,100]]})", R"("#ff0000")"},
      {R"({"op":"hs_to_rgb_hex","args":[[120,100]]})", R"("#00ff00")"},
      {R"({"op":"hs_to_rgb_hex","args":[[-120,100]]})", R"("#0000ff")"},
      {R"({"op":"hs_to_rgb_hex","args":[[480,100]]})", R"("#00ff00")"},
      {R"({"op":"hs_to_rgb_hex","args":[[0,0]]})", R"("#ffffff")"},
      {R"({"op":"hs_to_rgb_hex","args":[5]})", R"("#ffffff")"},
      {R"({"op":"hs_to_rgb_hex","args":[[60,50]]})", R"("#ffff80")"},  // 127.5 rounds to even 128
      {R"({"op":"hs_to_rgb_hex","args":[["240","150"]]})", R"("#0000ff")"},
      {R"({"op":"hs_to_rgb_hex","args":[[0,-5]]})", R"("#ffffff")"},
      {R"({"op":"hs_to_rgb_hex","args":[["inf","nan"]]})", R"("#ff0000")"},
      {R"({"op":"rgb_hex_to_hs","args":["#ff0000"]})", "[0.0,100.0]"},
      {R"({"op":"rgb_hex_to_hs","args":["#00ff00"]})", "[120.0,100.0]"},
      {R"({"op":"rgb_hex_to_hs","args":["#0000FF"]})", "[240.0,100.0]"},
      {R"({"op":"rgb_hex_to_hs","args":["#ff8000"]})", "[30.11764705882353,100.0]"},
      {R"({"op":"rgb_hex_to_hs","args":["#ff0080"]})", "[329.88235294117646,100.0]"},
      {R"({"op":"rgb_hex_to_hs","args":["#ffffff"]})", "[0.0,0.0]"},
      {R"({"op":"rgb_hex_to_hs","args":["#000000"]})", "[0.0,0.0]"},
      {R"({"op":"rgb_hex_to_hs","args":["# ff 00 00"]})", "[0.0,100.0]"},
      {R"({"op":"rgb_hex_to_hs","args":["ff0000"]})", "null"},
      {R"({"op":"rgb_hex_to_hs","args":["#ff00"]})", "null"},
      {R"({"op":"rgb_hex_to_hs","args":["#ff000000"]})", "null"},
      {R"({"op":"rgb_hex_to_hs","args":["#ff000"]})", "null"},
      {R"({"op":"rgb_hex_to_hs","args":["#gg0000"]})", "null"},
      {R"({"op":"rgb_hex_to_hs","args":["#"]})", "null"},
      {R"({"op":"rgb_hex_to_hs","args":[""]})", "null"},
      {R"({"op":"rgb_hex_to_hs","args":[255]})", "null"},
  });
}

TEST(ExprDataOps, Electricity) {
  const char* short_form =
      R"({"voltage":230.0,"current":5.0,"power":200.0,"reactive_power":null,"apparent_power":null,"power_factor":null})";
  check({
      {R"({"op":"electricity_hex","args":["08fc0000050000c8"]})", short_form},
      {R"({"op":"electricity_hex","args":["08 fc 00 00 05 00 00 c8"]})", short_form},
      {R"({"op":"electricity_hex","args":["010f08fc0000050000c800001000002064"]})",
       R"({"voltage":230.0,"current":5.0,"power":200.0,"reactive_power":16,"apparent_power":32,"power_factor":1})"},
      {R"({"op":"electricity_hex","args":["08fc0000050000"]})", "null"},   // seven bytes
      {R"({"op":"electricity_hex","args":["08fc0000050000c"]})", "null"},  // odd number of digits
      {R"({"op":"electricity_hex","args":["08fc0000050000zz"]})", "null"},
      {R"({"op":"electricity_hex","args":[5]})", "null"},
      {R"({"op":"electricity_b64","args":["CPwAAAUAAMg="]})", short_form},
      {R"({"op":"electricity_b64","args":["CPwAAAUAAMg"]})", "null"},
      {R"({"op":"electricity_b64","args":["AEE="]})", "null"},
      {R"({"op":"electricity_b64","args":[[1]]})", "null"},
  });
}

// "zip" and "entries" add a pair node per element: arguments that fit can make
// a result that does not. The result is forecast pair by pair and refused with
// the message that charging the built result would give.
TEST(ExprDataOps, PairsAreForecast) {
  Value deep(1);
  for (int i = 0; i < 63; ++i) deep = Value(zefa::json::Array{deep});  // 64 levels: fits exactly
  zefa::json::Object members;
  for (int i = 0; i < 40'000; ++i) members.insert_or_assign(std::string("k").append(std::to_string(i)), Value(i));
  const Value ctx(zefa::json::Object{{"a", numbers(39'999)},
                                     {"deep", deep},
                                     {"wide", Value(std::move(members))},
                                     {"text", Value(zefa::json::Array{Value(std::string(600'000, 't'))})},
                                     {"nested_member", Value(zefa::json::Object{{"k", deep[0]}})}});
  struct Row {
    const char* expr;
    const char* want;
    Value built;  // the same result, built, for the message its charge gives
  };
  auto pairs = [](const Value& x, const Value& y) {
    zefa::json::Array out;
    for (size_t i = 0; i < std::min(x.size(), y.size()); ++i) out.emplace_back(zefa::json::Array{x[i], y[i]});
    return Value(std::move(out));
  };
  auto entries = [](const Value& o) {
    zefa::json::Array out;
    for (const auto& m : o.obj()) out.emplace_back(zefa::json::Array{m.key, m.value});
    return Value(std::move(out));
  };
  const Row rows[] = {
      {R"({"op":"zip","args":[{"op":"get","path":"a"},{"op":"get","path":"a"}]})",
       "error: rule value size limit exceeded", pairs(ctx["a"], ctx["a"])},
      {R"({"op":"zip","args":[{"op":"get","path":"deep"},[1]]})", "error: rule nesting limit exceeded",
       pairs(ctx["deep"], J("[1]"))},
      {R"({"op":"zip","args":[{"op":"get","path":"text"},{"op":"get","path":"text"}]})",
       "error: rule text size limit exceeded", pairs(ctx["text"], ctx["text"])},
      {R"({"op":"entries","args":[{"op":"get","path":"wide"}]})", "error: rule value size limit exceeded",
       entries(ctx["wide"])},
      {R"({"op":"entries","args":[{"op":"get","path":"nested_member"}]})", "error: rule nesting limit exceeded",
       entries(ctx["nested_member"])},
  };
  for (const Row& r : rows) {
    Scope s = Scope().with_fields(ctx);
    EXPECT_EQ(show(s.eval(J(r.expr))), r.want) << r.expr;
    Scope t;
    auto c = t.charge(r.built);
    ASSERT_FALSE(c.ok()) << r.expr;
    EXPECT_EQ("error: " + c.error(), r.want) << r.expr;
  }
  Scope s = Scope().with_fields(ctx);
  auto r = s.eval(J(R"({"op":"zip","args":[{"op":"get","path":"deep"},{"op":"get","path":"deep"}]})"));
  EXPECT_EQ(show(r), "error: rule nesting limit exceeded");
  r = s.eval(J(R"({"op":"zip","args":[[[[1]]],[2]]})"));
  EXPECT_EQ(show(r), "[[[[1]],2]]");
}
