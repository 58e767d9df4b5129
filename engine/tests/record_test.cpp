// Typed records read from JSON, for every module that declares one.
#include "record.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "data/data.hpp"
#include "machine/machine.hpp"
#include "protocol.hpp"
#include "runtime/options.hpp"
#include "fn_cases.hpp"

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
    return record::Schema("Gadget", record::field("name", &Gadget::name), record::field("slot", &Gadget::slot),
                          record::field("side", &Gadget::side), record::field("weight", &Gadget::weight, 1.5),
                          record::field("on", &Gadget::on, true),
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
  record::OrderedMap<std::string, Strict> parts;
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
struct Dot { static constexpr auto schema() { return record::Schema("Shape::Dot"); } };
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

struct Off { static constexpr auto schema() { return record::Schema("Switch::Off").unit(); } };
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

// The record written back, or {"error": the reader's message}.
template <class T, auto read = &record::read<T>>
Value roundtrip(const test::Args& a) {
  return test::outcome(read(a[0]), [](const T& v) { return record::write(v); });
}

// [name, [expected names]].
template <auto message>
Value name_list(const test::Args& a) {
  std::vector<std::string_view> names;
  for (const Value& n : a[1].arr()) names.push_back(n.str());
  return Value(message(a[0].str(), names.data(), names.size()));
}

using protocol::DpKind;
const test::CaseFns kReaders = {
    {"Gadget", roundtrip<Gadget>},
    {"Strict", roundtrip<Strict>},
    {"Holder", roundtrip<Holder>},
    {"Doc", roundtrip<Doc>},
    {"Shape", roundtrip<Shape>},
    {"Switch", roundtrip<Switch>},
    {"Pair", roundtrip<Pair>},
    {"describe", [](const test::Args& a) { return Value(record::describe(a[0])); }},
    {"unknown_variant", name_list<record::unknown_variant>},
    {"unknown_field", name_list<record::unknown_field>},
    {"Input", roundtrip<protocol::Input, &protocol::Input::deserialize>},
    {"DpKind", roundtrip<DpKind>},
    {"DpKind::parse", [](const test::Args& a) { return record::write(DpKind::parse(a[0].str())); }},
    {"DriverOptions", roundtrip<runtime::DriverOptions, &runtime::DriverOptions::deserialize>},
    {"HostEnv", roundtrip<runtime::HostEnv, &runtime::HostEnv::deserialize>},
    {"Machine", roundtrip<machine::Machine, &machine::Machine::deserialize>},
};

// Each function is a record type read and written back, or a message builder.
TEST(RecordReading, Cases) {
  for (const char* file : {"record_reading.json", "protocol_reading.json", "options_reading.json", "machine_json_form.json"})
    test::run_cases(file, kReaders);
}

TEST(Record, NonFiniteFloatsAreWrittenNull) {
  EXPECT_EQ(record::write(Circle{std::nan("")}).dump(), R"({"r":null})");
}

}  // namespace zefa::recordtest
