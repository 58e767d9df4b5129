#include "record.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "data.hpp"
#include "test_util.hpp"

namespace zefa::recordtest {

using json::Value;
using test::J;

enum class Side : uint8_t { Left, Right };
constexpr auto enum_names(Side) { return std::array<std::string_view, 2>{"left", "right"}; }

enum class Colour : uint8_t { Red, Green, Blue };
constexpr auto enum_names(Colour) { return std::array<std::string_view, 3>{"red", "green", "blue"}; }

// Required, optional and defaulted members of every plain type.
struct Gadget {
  std::string name;
  std::size_t slot{};
  std::optional<Side> side;
  double weight{};
  bool on{};
  Value extra;
  std::vector<std::string> tags;
  int64_t offset{};

  static constexpr auto schema() {
    return record::Schema("Gadget", record::field("name", &Gadget::name),   //
                          record::field("slot", &Gadget::slot),             //
                          record::field("side", &Gadget::side),             //
                          record::field("weight", &Gadget::weight, 1.5),    //
                          record::field("on", &Gadget::on, true),           //
                          record::field("extra", &Gadget::extra, record::empty_object),
                          record::field("tags", &Gadget::tags, record::empty),
                          record::field("offset", &Gadget::offset, -1));
  }
};

struct Strict {
  bool flag{};
  std::optional<Colour> colour;
  static constexpr auto schema() {
    return record::Schema("Strict", record::field("flag", &Strict::flag, false),
                          record::field("colour", &Strict::colour, record::empty))
        .deny_unknown_fields();
  }
};

struct Holder {
  json::OrderedMap<std::string, Strict> parts;
  std::vector<Gadget> gadgets;
  data::Table table;
  static constexpr auto schema() {
    return record::Schema("Holder", record::field("parts", &Holder::parts), record::field("gadgets", &Holder::gadgets),
                          record::field("table", &Holder::table, record::empty));
  }
};

// A document whose configuration members stand beside its own.
struct Config {
  Value device;
  std::vector<Side> sides;
  static constexpr auto schema() {
    return record::Schema("Config", record::field("device", &Config::device), record::field("sides", &Config::sides));
  }
};
struct Doc {
  Config config;
  int64_t seq{};
  std::optional<Side> side;
  static constexpr auto schema() {
    return record::Schema("Doc", record::flatten(&Doc::config), record::field("seq", &Doc::seq),
                          record::field("side", &Doc::side));
  }
};

struct Shape;
struct Circle {
  double r{};
  static constexpr auto schema() { return record::Schema("Shape::Circle", record::field("r", &Circle::r)); }
};
struct Dot {
  static constexpr auto schema() { return record::Schema("Shape::Dot"); }
};
struct Group {
  std::vector<Shape> items;
  Colour colour{};
  static constexpr auto schema() {
    return record::Schema("Shape::Group", record::field("colour", &Group::colour),
                          record::field("items", &Group::items, record::empty));
  }
};
struct Shape {
  std::variant<Dot, Circle, Group> v;
  static constexpr auto schema() { return record::internally_tagged("Shape", "kind", &Shape::v, "dot", "circle", "group"); }
};

struct Off {
  static constexpr auto schema() { return record::Schema("Switch::Off").unit(); }
};
struct Pos {
  std::size_t at{};
  std::string key;
  static constexpr auto schema() {
    return record::Schema("Switch::Pos", record::field("at", &Pos::at), record::field("key", &Pos::key));
  }
};
struct Switch {
  std::variant<Off, Pos> v;
  static constexpr auto schema() { return record::externally_tagged("Switch", &Switch::v, "off", "pos"); }
};

struct Pair {
  std::string a;
  Value b;
  static constexpr auto schema() {
    return record::Schema("Pair", record::field("a", &Pair::a), record::field("b", &Pair::b)).array_only().kind("tuple struct");
  }
};

template <class T>
std::string error_of(const char* text) {
  auto r = record::read<T>(J(text));
  return r.ok() ? std::string("<ok>") : r.error();
}

template <class T>
std::string roundtrip(const char* text) {
  auto r = record::read<T>(J(text));
  return r.ok() ? record::write(r.value()).dump() : "error: " + r.error();
}

TEST(Record, FoundValueDescriptions) {
  struct Case {
    Value v;
    const char* text;
  } cases[] = {
      {J("null"), "null"},
      {J("true"), "boolean `true`"},
      {J("false"), "boolean `false`"},
      {J("5"), "integer `5`"},
      {J("-7"), "integer `-7`"},
      {J("18446744073709551615"), "integer `18446744073709551615`"},
      {J("1.5"), "floating point `1.5`"},
      {J("1.0"), "floating point `1.0`"},
      {J("-0.0"), "floating point `-0.0`"},
      {J("1e300"), "floating point `1e300`"},
      {J("1.5e-7"), "floating point `1.5e-7`"},
      {J("\"F\""), "string \"F\""},
      {J(R"("a\"b\\c\nd\te\u0001\u007f\u0085ü")"), R"(string "a\"b\\c\nd\te\u{1}\u{7f}\u{85}ü")"},
      {J("[]"), "sequence"},
      {J("{}"), "map"},
  };
  for (const auto& c : cases) EXPECT_EQ(record::describe(c.v), c.text) << c.v.dump();
}

TEST(Record, NameLists) {
  std::string_view one[] = {"accept_passive"};
  std::string_view two[] = {"event", "delta"};
  std::string_view three[] = {"active", "passive", "state"};
  EXPECT_EQ(record::unknown_variant("x", one, 1), "unknown variant `x`, expected `accept_passive`");
  EXPECT_EQ(record::unknown_variant("Event", two, 2), "unknown variant `Event`, expected `event` or `delta`");
  EXPECT_EQ(record::unknown_variant("Active", three, 3),
            "unknown variant `Active`, expected one of `active`, `passive`, `state`");
  EXPECT_EQ(record::unknown_field("x", two, 2), "unknown field `x`, expected `event` or `delta`");
  EXPECT_EQ(record::unknown_field("x", nullptr, 0), "unknown field `x`, there are no fields");
}

TEST(Record, StructReading) {
  struct Case {
    const char* in;
    const char* out;  // written form, or "error: " and the message
  } cases[] = {
      {R"({"name":"a","slot":1})",
       R"({"name":"a","slot":1,"side":null,"weight":1.5,"on":true,"extra":{},"tags":[],"offset":-1})"},
      {R"({"slot":2,"zzz":[1],"name":"b","side":"right","weight":3,"on":false,"extra":null,"tags":["x"],"offset":5})",
       R"({"name":"b","slot":2,"side":"right","weight":3.0,"on":false,"extra":null,"tags":["x"],"offset":5})"},
      {R"({"name":"a","slot":1,"side":null})",
       R"({"name":"a","slot":1,"side":null,"weight":1.5,"on":true,"extra":{},"tags":[],"offset":-1})"},
      {R"(["a",1,{"left":null}])",
       R"({"name":"a","slot":1,"side":"left","weight":1.5,"on":true,"extra":{},"tags":[],"offset":-1})"},
      {R"({"slot":1})", "error: missing field `name`"},
      {R"({})", "error: missing field `name`"},
      {R"({"name":"a"})", "error: missing field `slot`"},
      {R"(["a"])", "error: invalid length 1, expected struct Gadget with 8 elements"},
      {R"(["a",1])", "error: invalid length 2, expected struct Gadget with 8 elements"},
      {R"(["a",1,null,1,true,{},[],0,9])", "error: invalid length 9, expected fewer elements in array"},
      {R"([5,1,null,1,true,{},[],0,9])", "error: invalid type: integer `5`, expected a string"},
      {R"("gadget")", "error: invalid type: string \"gadget\", expected struct Gadget"},
      {R"(null)", "error: invalid type: null, expected struct Gadget"},
      {R"({"name":"a","slot":-1})", "error: invalid value: integer `-1`, expected usize"},
      {R"({"name":"a","slot":1.0})", "error: invalid type: floating point `1.0`, expected usize"},
      {R"({"name":"a","slot":1,"offset":9223372036854775808})",
       "error: invalid value: integer `9223372036854775808`, expected i64"},
      {R"({"name":"a","slot":1,"offset":-9223372036854775808})",
       R"({"name":"a","slot":1,"side":null,"weight":1.5,"on":true,"extra":{},"tags":[],"offset":-9223372036854775808})"},
      {R"({"name":"a","slot":1,"weight":"1"})", "error: invalid type: string \"1\", expected f64"},
      {R"({"name":"a","slot":1,"on":1})", "error: invalid type: integer `1`, expected a boolean"},
      {R"({"name":"a","slot":1,"tags":{}})", "error: invalid type: map, expected a sequence"},
      {R"({"name":"a","slot":1,"tags":["x",2]})", "error: invalid type: integer `2`, expected a string"},
      // The first fault in member order wins.
      {R"({"on":1,"name":5})", "error: invalid type: integer `1`, expected a boolean"},
      {R"({"name":5,"on":1})", "error: invalid type: integer `5`, expected a string"},
  };
  for (const auto& c : cases) EXPECT_EQ(roundtrip<Gadget>(c.in), c.out) << c.in;
}

TEST(Record, Enumerations) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {R"({"colour":"blue"})", R"({"flag":false,"colour":"blue"})"},
      {R"({"colour":{"green":null}})", R"({"flag":false,"colour":"green"})"},
      {R"({"colour":null})", R"({"flag":false,"colour":null})"},
      {R"({"colour":"Blue"})", "error: unknown variant `Blue`, expected one of `red`, `green`, `blue`"},
      {R"({"colour":{"Blue":null}})", "error: unknown variant `Blue`, expected one of `red`, `green`, `blue`"},
      {R"({"colour":{}})", "error: invalid value: map, expected map with a single key"},
      {R"({"colour":{"red":null,"blue":null}})", "error: invalid value: map, expected map with a single key"},
      {R"({"colour":{"red":1}})", "error: invalid type: integer `1`, expected unit"},
      // The allowance of {} for null belongs to held-back content only.
      {R"({"colour":{"red":{}}})", "error: invalid type: map, expected unit"},
      {R"({"colour":2})", "error: invalid type: integer `2`, expected string or map"},
      {R"({"colour":["red"]})", "error: invalid type: sequence, expected string or map"},
      {R"({"flag":true,"colour":"red","more":1})",
       "error: unknown field `more`, expected `flag` or `colour`"},
      {R"([true])", R"({"flag":true,"colour":null})"},
      {R"([])", R"({"flag":false,"colour":null})"},
      {R"([true,"red",1])", "error: invalid length 3, expected fewer elements in array"},
  };
  for (const auto& c : cases) EXPECT_EQ(roundtrip<Strict>(c.in), c.out) << c.in;
  EXPECT_EQ(record::name_of(Colour::Green), "green");
  EXPECT_EQ(record::write(Side::Right).dump(), "\"right\"");
  EXPECT_EQ(error_of<Side>("\"up\""), "unknown variant `up`, expected `left` or `right`");
}

TEST(Record, MapsListsAndSelfDescribingMembers) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {R"({"parts":{"b":{},"a":[true,"red"]},"gadgets":[{"name":"g","slot":0}],"table":{"x":1}})",
       R"({"parts":{"b":{"flag":false,"colour":null},"a":{"flag":true,"colour":"red"}},)"
       R"("gadgets":[{"name":"g","slot":0,"side":null,"weight":1.5,"on":true,"extra":{},"tags":[],"offset":-1}],)"
       R"("table":{"x":1}})"},
      {R"({"parts":{},"gadgets":[]})", R"({"parts":{},"gadgets":[],"table":{}})"},
      {R"({"parts":[],"gadgets":[]})", "error: invalid type: sequence, expected a map"},
      {R"({"parts":{"a":{"x":1}},"gadgets":[]})", "error: unknown field `x`, expected `flag` or `colour`"},
      {R"({"parts":{},"gadgets":[{"name":"g"}]})", "error: missing field `slot`"},
      {R"({"parts":{},"gadgets":[],"table":[]})", "error: expected a JSON object"},
  };
  for (const auto& c : cases) EXPECT_EQ(roundtrip<Holder>(c.in), c.out) << c.in;
}

TEST(Record, FlattenedMembersAreReadLast) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {R"({"seq":3,"sides":[{"left":{}}],"note":1,"device":null})", R"({"device":null,"sides":["left"],"seq":3,"side":null})"},
      {R"({"sides":[],"device":{"id":1},"side":"right","seq":-2})",
       R"({"device":{"id":1},"sides":[],"seq":-2,"side":"right"})"},
      // The record's own fields are checked before the flattened ones.
      {R"({"sides":[]})", "error: missing field `seq`"},
      {R"({"seq":1,"sides":[]})", "error: missing field `device`"},
      {R"({"sides":5,"seq":"x"})", "error: invalid type: string \"x\", expected i64"},
      {R"({"sides":5,"seq":1})", "error: invalid type: integer `5`, expected a sequence"},
      {R"([null,[],1])", "error: invalid type: sequence, expected struct Doc"},
  };
  for (const auto& c : cases) EXPECT_EQ(roundtrip<Doc>(c.in), c.out) << c.in;
}

TEST(Record, InternallyTaggedVariants) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {R"({"kind":"dot","x":1})", R"({"kind":"dot"})"},
      {R"(["dot"])", R"({"kind":"dot"})"},
      {R"({"r":2,"kind":"circle"})", R"({"kind":"circle","r":2.0})"},
      {R"(["circle",2.5])", R"({"kind":"circle","r":2.5})"},
      {R"({"kind":"group","colour":{"red":{}}})", R"({"kind":"group","colour":"red","items":[]})"},
      {R"(["group","blue",[["circle",1],{"kind":2,"colour":"red"},[0]]])",
       R"({"kind":"group","colour":"blue","items":[{"kind":"circle","r":1.0},)"
       R"({"kind":"group","colour":"red","items":[]},{"kind":"dot"}]})"},
      {R"({"kind":"Dot"})", "error: unknown variant `Dot`, expected one of `dot`, `circle`, `group`"},
      {R"({"kind":1})", "error: invalid type: integer `1`, expected variant identifier"},
      {R"([1])", "error: invalid type: integer `1`, expected variant identifier"},
      {R"({"kind":"group","colour":"red","items":[{"kind":3}]})",
       "error: invalid value: integer `3`, expected variant index 0 <= i < 3"},
      {R"({"kind":"group","colour":"red","items":[{"kind":-1}]})",
       "error: invalid type: integer `-1`, expected variant identifier"},
      {R"({"r":1})", "error: missing field `kind`"},
      {R"([])", "error: missing field `kind`"},
      {R"(5)", "error: invalid type: integer `5`, expected internally tagged enum Shape"},
      {R"({"kind":"circle"})", "error: missing field `r`"},
      {R"(["circle"])", "error: invalid length 0, expected struct variant Shape::Circle with 1 element"},
      {R"(["circle",1,2,3])", "error: invalid length 3, expected 1 element in sequence"},
      {R"(["dot",1])", "error: invalid length 1, expected 0 elements in sequence"},
      {R"(["group","red",[],4])", "error: invalid length 3, expected 2 elements in sequence"},
      {R"(["group","red",[["circle",1,2]]])", "error: invalid length 2, expected 1 element in sequence"},
  };
  for (const auto& c : cases) EXPECT_EQ(roundtrip<Shape>(c.in), c.out) << c.in;
}

TEST(Record, ExternallyTaggedVariants) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {R"("off")", R"("off")"},
      {R"({"off":null})", R"("off")"},
      {R"({"pos":{"key":"k","at":1,"x":0}})", R"({"pos":{"at":1,"key":"k"}})"},
      {R"({"pos":[2,"settle"]})", R"({"pos":{"at":2,"key":"settle"}})"},
      {R"({"off":{}})", "error: invalid type: map, expected unit"},
      {R"({"off":1})", "error: invalid type: integer `1`, expected unit"},
      {R"("pos")", "error: invalid type: unit variant, expected struct variant"},
      {R"({"pos":5})", "error: invalid type: integer `5`, expected struct variant"},
      {R"({"pos":[2]})", "error: invalid length 1, expected struct variant Switch::Pos with 2 elements"},
      {R"({"pos":[2,"k",3]})", "error: invalid length 3, expected fewer elements in array"},
      {R"({"pos":{"at":2}})", "error: missing field `key`"},
      {R"("on")", "error: unknown variant `on`, expected `off` or `pos`"},
      {R"({})", "error: invalid value: map, expected map with a single key"},
      {R"(true)", "error: invalid type: boolean `true`, expected string or map"},
  };
  for (const auto& c : cases) EXPECT_EQ(roundtrip<Switch>(c.in), c.out) << c.in;
}

TEST(Record, ArrayOnlyRecords) {
  EXPECT_EQ(roundtrip<Pair>(R"(["a",{"b":1}])"), R"(["a",{"b":1}])");
  EXPECT_EQ(roundtrip<Pair>(R"(["a"])"), "error: invalid length 1, expected tuple struct Pair with 2 elements");
  EXPECT_EQ(roundtrip<Pair>(R"({"a":"a","b":1})"), "error: invalid type: map, expected tuple struct Pair");
}

TEST(Record, DefaultsAndDecode) {
  Gadget g = record::defaults<Gadget>();
  EXPECT_EQ(g.weight, 1.5);
  EXPECT_TRUE(g.on);
  EXPECT_EQ(g.extra, J("{}"));
  EXPECT_EQ(g.offset, -1);
  EXPECT_FALSE(g.side.has_value());

  auto bad = record::decode<Gadget>(J(R"({"op":"x","gadget":{"slot":1}})"), "gadget");
  ASSERT_FALSE(bad.ok());
  EXPECT_EQ(bad.error().kind, ErrorKind::Request);
  EXPECT_EQ(bad.error().message, "gadget: missing field `name`");
  auto missing = record::decode<Gadget>(J("{}"), "gadget");
  EXPECT_EQ(missing.error().message, "gadget: invalid type: null, expected struct Gadget");
  auto good = record::decode<Gadget>(J(R"({"gadget":["n",4,null]})"), "gadget");
  ASSERT_TRUE(good.ok());
  EXPECT_EQ(good.value().slot, 4u);
}

TEST(Record, NonFiniteFloatsAreWrittenNull) {
  Circle c{std::nan("")};
  EXPECT_EQ(record::write(c).dump(), R"({"r":null})");
  c.r = 30;
  EXPECT_EQ(record::write(c).dump(), R"({"r":30.0})");
}

}  // namespace zefa::recordtest
