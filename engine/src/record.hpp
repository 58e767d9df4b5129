// Typed records: the one reader and writer of every record the engine keeps
// in JSON (inputs, options, plans, roles, adapters, covers, drivers ...).
//
// A record is a plain struct with one declaration, its schema: the field
// table, in declared order, with each field's JSON name and its default.
// Reading and writing both come from that table, so they cannot disagree.
//
//   struct HostEnv {
//     std::string temperature_unit;
//     json::Value allowed_units;
//     static constexpr auto schema() {
//       return record::Schema("HostEnv",
//           record::field("temperature_unit", &HostEnv::temperature_unit, "C"),
//           record::field("allowed_units", &HostEnv::allowed_units, record::empty_object));
//     }
//   };
//   Result<HostEnv, std::string> env = record::read<HostEnv>(value);
//   json::Value back = record::write(env.value());   // {"temperature_unit":..,"allowed_units":..}
//   HostEnv d = record::defaults<HostEnv>();         // every declared default applied
//
// Fields:
//   record::field(name, &T::m)          required; a std::optional member may be
//                                       left out of the object form (none) but
//                                       not out of the array form
//   record::field(name, &T::m, dflt)    may be left out of either form; dflt is a
//                                       value convertible to the member, a
//                                       callable returning one, record::empty
//                                       (the member's empty value: none, "", [])
//                                       or record::empty_object (a JSON {})
//   record::field<C>(...)               the same, read and written by codec C
//                                       instead of Codec<member type>
//   record::flatten(&T::m)              the members of record m stand at this
//                                       record's level; they are read after this
//                                       record's own fields, as held-back content
//                                       (see Reader::content); such a record has
//                                       no array form
// Schema options (chained): .deny_unknown_fields() (a member of another name
// fails "unknown field"), .object_only(), .array_only(), .kind("tuple struct")
// (the word before the name in expectations), .unit() (a data-less
// alternative of an externally tagged variant record).
//
// A record holding one of several alternatives is a struct with a std::variant
// member whose alternatives are records themselves (named "Input::Message" and
// the like) and whose schema lists the alternatives' names in variant order:
//   static constexpr auto schema() {
//     return record::internally_tagged("Input", "type", &Input::v, "connected", ...);
//   }   // {"type": "connected", ...members} or ["connected", ...members]
//   record::externally_tagged("Setting", &Setting::v, "accept_passive", "cover")
//       // "accept_passive", {"accept_passive": null} or {"cover": {...}}
//
// An enumeration is an enum (or a class convertible to its enum, with a nested
// `Tag`) plus a function found by argument-dependent lookup that lists its
// names in value order:
//   enum class Channel : uint8_t { Active, Passive, State };
//   constexpr auto enum_names(Channel) {
//     return std::array<std::string_view, 3>{"active", "passive", "state"};
//   }
// It is written as its name and read from its name or from {"name": null}.
//
// A record is written as an object, or as an array when it has no object form.
//
// Other member types: bool, integers, double, std::string, json::Value (taken
// unchanged), std::optional<T> (null is none), std::vector<T>,
// record::OrderedMap<std::string, T>, and any type with
// `static Result<T, std::string> deserialize(const json::Value&)` and
// `json::Value serialize() const` (data::Table). A type of its own kind gets a
// specialisation of record::Codec (see below).
//
// Messages have the reader's fixed forms: "missing field `x`",
// "duplicate field `x`", "unknown field `x`, expected ...", "unknown variant
// `x`, expected one of `a`, `b`, `c`", "invalid type: {found}, expected {what}",
// "invalid length N, expected {what}", "invalid value: {found}, expected
// {what}". They carry no position; a caller reading a request member puts the
// member's name before them (record::decode).
//
// Reading never throws and never fails on anything but its input; reading and
// writing keep no state and may run on any thread at once.
#pragma once

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "error.hpp"
#include "json.hpp"

namespace zefa::record {

// ---------------------------------------------------------------------------
// Ordered maps

// Positions in a sequence found by the hash of their key, the sequence
// keeping the keys: open addressing with linear probing, each slot holding a
// position + 1 (0 is empty), never more than half full. The index behind
// OrderedMap, and behind lists indexed by a key of their own (the codes of
// adapter entries, JSON values).
class PositionIndex {
 public:
  static constexpr size_t npos = static_cast<size_t>(-1);
  // No table yet: find answers npos, put needs a reset first.
  bool empty() const noexcept { return slots_.empty(); }
  // Whether `count` positions keep the table at most half full.
  bool room_for(size_t count) const noexcept { return count * 2 <= slots_.size(); }
  // An empty table with room for `count` positions.
  void reset(size_t count);
  void clear() noexcept { slots_ = {}; }
  void put(uint64_t hash, size_t pos) noexcept {
    size_t i = hash & mask_;
    while (slots_[i] != 0) i = (i + 1) & mask_;
    slots_[i] = static_cast<uint32_t>(pos + 1);
  }
  // The first position on the hash's probe path that `is_key` accepts.
  template <class IsKey>
  size_t find(uint64_t hash, IsKey&& is_key) const {
    if (slots_.empty()) return npos;
    for (size_t i = hash & mask_; slots_[i] != 0; i = (i + 1) & mask_)
      if (is_key(slots_[i] - 1)) return slots_[i] - 1;
    return npos;
  }

 private:
  std::vector<uint32_t> slots_;
  size_t mask_ = 0;
};

// An ordered map for the system's own records: insertion order, a value
// assigned to an existing key keeps its place, removal keeps the order of
// the others. Small maps are scanned; from kIndexFrom entries on, a hash
// index finds keys, so no lookup scans a large map. Text keys hash with the
// JSON core's seeded hash.
//
// Keys are fixed once inserted: iteration gives read-only entries, and
// values change through find, value_at or insert_or_assign.
template <class K, class V>
class OrderedMap {
 public:
  using Entry = std::pair<K, V>;
  static constexpr size_t kIndexFrom = 16;

  size_t size() const noexcept { return items_.size(); }
  bool empty() const noexcept { return items_.empty(); }
  auto begin() const noexcept { return items_.cbegin(); }
  auto end() const noexcept { return items_.cend(); }
  const Entry& at(size_t i) const noexcept { return items_[i]; }
  V& value_at(size_t i) noexcept { return items_[i].second; }

  // Position of the key, or size() when missing.
  template <class Q>
  size_t index_of(const Q& k) const noexcept {
    if (index_.empty()) {
      for (size_t i = 0; i < items_.size(); ++i)
        if (items_[i].first == k) return i;
      return items_.size();
    }
    size_t at = index_.find(hash(k), [&](size_t i) { return items_[i].first == k; });
    return at == PositionIndex::npos ? items_.size() : at;
  }
  template <class Q>
  const V* find(const Q& k) const noexcept {
    size_t i = index_of(k);
    return i < items_.size() ? &items_[i].second : nullptr;
  }
  template <class Q>
  V* find(const Q& k) noexcept {
    size_t i = index_of(k);
    return i < items_.size() ? &items_[i].second : nullptr;
  }
  template <class Q>
  bool contains(const Q& k) const noexcept {
    return index_of(k) < items_.size();
  }

  // Replaces the value of an existing key in its place, or appends.
  V& insert_or_assign(K k, V v) {
    if (V* p = find(k)) {
      *p = std::move(v);
      return *p;
    }
    return push_unique(std::move(k), std::move(v));
  }
  // Appends without looking for an existing key; the caller guarantees the
  // key is new (readers of parsed objects, whose keys are distinct).
  V& push_unique(K k, V v) {
    items_.emplace_back(std::move(k), std::move(v));
    indexed_append();
    return items_.back().second;
  }
  V& operator[](const K& k) {
    if (V* p = find(k)) return *p;
    return push_unique(k, V{});
  }
  // Removes the key; the entries after it move up one place.
  template <class Q>
  bool erase(const Q& k) {
    size_t i = index_of(k);
    if (i == items_.size()) return false;
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(i));
    reindex(items_.size());
    return true;
  }
  void reserve(size_t n) {
    items_.reserve(n);
    if (n > kIndexFrom && !index_.room_for(n)) reindex(n);
  }
  void clear() noexcept {
    items_.clear();
    index_.clear();
  }
  friend bool operator==(const OrderedMap& a, const OrderedMap& b) { return a.items_ == b.items_; }

 private:
  template <class Q>
  static uint64_t hash(const Q& k) noexcept {
    if constexpr (std::is_convertible_v<const Q&, std::string_view>)
      return json::hash_bytes(std::string_view(k), json::hash_seed());
    else
      return mix(std::hash<Q>{}(k) ^ json::hash_seed());
  }
  static uint64_t mix(uint64_t h) noexcept {
    h *= 0x9e3779b97f4a7c15ULL;
    return h ^ (h >> 29);
  }
  void indexed_append() {
    const size_t n = items_.size();
    if (index_.empty() && n <= kIndexFrom) return;
    if (index_.empty() || !index_.room_for(n)) return reindex(2 * n);
    index_.put(hash(items_.back().first), n - 1);
  }
  // A new index with room for `room` entries, or none for a small map.
  void reindex(size_t room) {
    if (items_.size() <= kIndexFrom && room <= kIndexFrom) return index_.clear();
    index_.reset(room < items_.size() ? items_.size() : room);
    for (size_t i = 0; i < items_.size(); ++i) index_.put(hash(items_[i].first), i);
  }

  std::vector<Entry> items_;
  PositionIndex index_;
};

// ---------------------------------------------------------------------------
// Messages

// A text as messages quote it: in double quotes, with backslash escapes for
// the quote, the backslash and control characters ("a\"b", "\n", "\u{1b}").
void quote(std::string_view s, std::string& out);
// A found value as messages show it: null, boolean `true`, integer `5`,
// floating point `1.5`, string "F", sequence, map.
std::string describe(const json::Value& found);
std::string missing_field(std::string_view field);
std::string duplicate_field(std::string_view field);
// `names` in declared order: `a`, `a` or `b`, one of `a`, `b`, `c`.
std::string unknown_field(std::string_view field, const std::string_view* names, size_t count);
std::string unknown_variant(std::string_view variant, const std::string_view* names, size_t count);
std::string invalid_type(const json::Value& found, std::string_view expected);
std::string invalid_value(const json::Value& found, std::string_view expected);
std::string invalid_length(size_t length, std::string_view expected);

// ---------------------------------------------------------------------------
// Reading state

// One read in progress: its mode and its first failure.
class Reader {
 public:
  // True while reading held-back content: the members of a tagged variant, or
  // the members of a flattened record. There a variant's tag may also be its
  // number, an enumeration takes {} in place of null, and surplus array
  // elements are reported as "N elements in sequence" rather than "fewer
  // elements in array".
  bool content = false;
  // True where a caller lets enumerations and unit alternatives take {} in
  // place of null outside held-back content too (UnitObjectScope).
  bool unit_object = false;

  // Records the failure; returns false so codecs can `return r.fail(...)`.
  bool fail(std::string message) {
    message_ = std::move(message);
    return false;
  }
  std::string& message() noexcept { return message_; }

 private:
  std::string message_;
};

// Sets one flag of a Reader for one nested read and restores it afterwards.
template <bool Reader::*Flag>
class FlagScope {
 public:
  FlagScope(Reader& r, bool on) : r_(r), saved_(r.*Flag) { r.*Flag = on; }
  ~FlagScope() { r_.*Flag = saved_; }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;

 private:
  Reader& r_;
  bool saved_;
};
using ContentScope = FlagScope<&Reader::content>;
using UnitObjectScope = FlagScope<&Reader::unit_object>;

// How one type is read and written. Specialise for a type of its own kind:
//   static bool read(const json::Value& v, T& out, Reader& r);  // false after r.fail
//   static json::Value write(const T& x);
template <class T>
struct Codec;

// ---------------------------------------------------------------------------
// Declaring records

struct Required {};
struct Empty {};
// The member's empty value: none, "", [], false, 0, null.
inline constexpr Empty empty{};
// A new empty JSON object.
inline constexpr auto empty_object = [] { return json::Value::object(); };

template <class C, class T, class M, class D>
struct Field {
  using Owner = T;
  using Member = M;
  using CodecType = C;
  using Default = D;
  std::string_view name;
  M T::*member;
  D dflt;
};

template <class T, class M>
struct Flatten {
  using Owner = T;
  using Member = M;
  M T::*member;
};

template <class C = void, class T, class M>
constexpr Field<C, T, M, Required> field(std::string_view name, M T::*member) {
  return {name, member, {}};
}

template <class C = void, class T, class M, class D>
constexpr Field<C, T, M, D> field(std::string_view name, M T::*member, D dflt) {
  static_assert(std::is_same_v<D, Empty> || std::is_invocable_r_v<M, const D&> || std::is_constructible_v<M, const D&>,
                "a field's default must be record::empty, a value of the member's type or a callable making one");
  return {name, member, dflt};
}

template <class T, class M>
constexpr Flatten<T, M> flatten(M T::*member) {
  return {member};
}

template <class... F>
struct Schema {
  std::string_view name;
  std::tuple<F...> fields;
  std::string_view kind_text = "struct";
  bool deny_unknown = false;
  bool object_form = true;
  bool array_form = true;
  bool unit_alternative = false;

  constexpr explicit Schema(std::string_view record_name, F... f) : name(record_name), fields(f...) {}

  constexpr Schema deny_unknown_fields() const {
    Schema s = *this;
    s.deny_unknown = true;
    return s;
  }
  constexpr Schema object_only() const {
    Schema s = *this;
    s.array_form = false;
    return s;
  }
  constexpr Schema array_only() const {
    Schema s = *this;
    s.object_form = false;
    return s;
  }
  constexpr Schema kind(std::string_view text) const {
    Schema s = *this;
    s.kind_text = text;
    return s;
  }
  constexpr Schema unit() const {
    Schema s = *this;
    s.unit_alternative = true;
    return s;
  }
};

template <class T, class V, size_t N>
struct Variants {
  using Owner = T;
  using Member = V;
  std::string_view name;
  std::string_view tag;  // empty: externally tagged
  V T::*member;
  std::array<std::string_view, N> names;
};

template <class T, class V, class... S>
constexpr Variants<T, V, sizeof...(S)> internally_tagged(std::string_view name, std::string_view tag, V T::*member,
                                                         S... names) {
  return {name, tag, member, {std::string_view(names)...}};
}

template <class T, class V, class... S>
constexpr Variants<T, V, sizeof...(S)> externally_tagged(std::string_view name, V T::*member, S... names) {
  return {name, {}, member, {std::string_view(names)...}};
}

// ---------------------------------------------------------------------------
// Machinery (type-erased tables; the loops live in record.cpp)

namespace detail {

struct FieldOps {
  std::string_view name;
  bool (*read)(const json::Value&, void*, Reader&);
  void (*write)(const void*, json::Object&);  // appends the member(s)
  json::Value (*value)(const void*);          // the member alone (array form)
  void (*fill)(void*);  // default, or none for an optional member; null: required
  bool array_default;   // fill also serves elements missing from the array form
  bool flat;
};

struct RecordOps {
  std::string_view name;
  std::string_view kind;
  const FieldOps* fields;
  size_t count;
  bool deny_unknown;
  bool object_form;
  bool array_form;
  bool unit;
};

struct VariantOps {
  std::string_view name;
  std::string_view tag;
  const std::string_view* names;
  const RecordOps* const* alts;
  size_t count;
  void* (*emplace)(void*, size_t);
  size_t (*index)(const void*);
  const void* (*get)(const void*, size_t);
};

bool read_record(const RecordOps& ops, std::string_view kind, const json::Value& v, void* out, Reader& r);
// Object form; `flat` reads a flattened record (other members are ignored),
// `skip` is a member that is not the record's (a variant's tag).
bool read_members(const RecordOps& ops, const json::Value& object, void* out, Reader& r, std::string_view skip,
                  bool flat);
bool read_elements(const RecordOps& ops, std::string_view kind, const json::Value* elems, size_t n, void* out,
                   Reader& r);
json::Value write_record(const RecordOps& ops, const void* in);
void write_members(const RecordOps& ops, const void* in, json::Object& out);
void fill_defaults(const RecordOps& ops, void* out);

bool read_variant(const VariantOps& ops, const json::Value& v, void* out, Reader& r);
json::Value write_variant(const VariantOps& ops, const void* in);

bool read_enum(const std::string_view* names, size_t count, const json::Value& v, size_t& index, Reader& r);

template <class T>
struct is_optional : std::false_type {};
template <class T>
struct is_optional<std::optional<T>> : std::true_type {};

template <class T>
struct is_schema : std::false_type {};
template <class... F>
struct is_schema<Schema<F...>> : std::true_type {};

template <class T>
struct is_variants : std::false_type {};
template <class T, class V, size_t N>
struct is_variants<Variants<T, V, N>> : std::true_type {};

template <class T>
struct is_flatten : std::false_type {};
template <class T, class M>
struct is_flatten<Flatten<T, M>> : std::true_type {};

template <class T>
inline constexpr auto schema_of = T::schema();

}  // namespace detail

template <class T>
concept StructRecord = requires { T::schema(); } && detail::is_schema<std::remove_cvref_t<decltype(T::schema())>>::value;

template <class T>
concept VariantRecord =
    requires { T::schema(); } && detail::is_variants<std::remove_cvref_t<decltype(T::schema())>>::value;

template <class E>
concept Enumeration = requires(E e) { enum_names(e); };

template <class T>
concept SelfDescribing = !StructRecord<T> && !VariantRecord<T> && requires(const T& t, const json::Value& v) {
  { T::deserialize(v) } -> std::same_as<Result<T, std::string>>;
  { t.serialize() } -> std::same_as<json::Value>;
};

namespace detail {

template <class F>
using codec_for = std::conditional_t<std::is_void_v<typename F::CodecType>, Codec<typename F::Member>,
                                     typename F::CodecType>;

template <class M, class D>
void apply_default(M& m, const D& d) {
  if constexpr (std::is_same_v<D, Empty>) {
    m = M{};
  } else if constexpr (std::is_invocable_r_v<M, const D&>) {
    m = d();
  } else {
    m = M(d);
  }
}

template <class T>
constexpr RecordOps record_ops();

template <class T, size_t I>
constexpr FieldOps field_ops() {
  using F = std::remove_cvref_t<std::tuple_element_t<I, std::remove_cvref_t<decltype(schema_of<T>.fields)>>>;
  using M = typename F::Member;
  static_assert(std::is_same_v<typename F::Owner, T>, "a field's member must belong to the record declaring it");
  if constexpr (is_flatten<F>::value) {
    static_assert(StructRecord<M>, "only a record can be flattened");
    return FieldOps{
        {},
        [](const json::Value& whole, void* o, Reader& r) {
          ContentScope held(r, true);
          return read_members(record_ops<M>(), whole, &(static_cast<T*>(o)->*std::get<I>(schema_of<T>.fields).member),
                              r, {}, true);
        },
        [](const void* o, json::Object& out) {
          write_members(record_ops<M>(), &(static_cast<const T*>(o)->*std::get<I>(schema_of<T>.fields).member), out);
        },
        nullptr,
        [](void* o) { fill_defaults(record_ops<M>(), &(static_cast<T*>(o)->*std::get<I>(schema_of<T>.fields).member)); },
        false,
        true};
  } else {
    using C = codec_for<F>;
    static_assert(requires(const json::Value& v, M& m, Reader& r) { C::read(v, m, r); },
                  "no record::Codec reads this member type");
    constexpr bool has_default = !std::is_same_v<typename F::Default, Required>;
    void (*fill)(void*) = nullptr;
    if constexpr (has_default) {
      fill = [](void* o) {
        constexpr const auto& f = std::get<I>(schema_of<T>.fields);
        apply_default(static_cast<T*>(o)->*f.member, f.dflt);
      };
    } else if constexpr (is_optional<M>::value) {
      fill = [](void* o) { (static_cast<T*>(o)->*std::get<I>(schema_of<T>.fields).member).reset(); };
    }
    return FieldOps{
        std::get<I>(schema_of<T>.fields).name,
        [](const json::Value& v, void* o, Reader& r) {
          return C::read(v, static_cast<T*>(o)->*std::get<I>(schema_of<T>.fields).member, r);
        },
        [](const void* o, json::Object& out) {
          constexpr const auto& f = std::get<I>(schema_of<T>.fields);
          out.push_unique(json::Value(f.name), C::write(static_cast<const T*>(o)->*f.member));
        },
        [](const void* o) { return C::write(static_cast<const T*>(o)->*std::get<I>(schema_of<T>.fields).member); },
        fill,
        has_default,
        false};
  }
}

template <class T, size_t... I>
constexpr auto make_fields(std::index_sequence<I...>) {
  return std::array<FieldOps, sizeof...(I)>{field_ops<T, I>()...};
}

template <class T>
inline constexpr auto fields_of =
    make_fields<T>(std::make_index_sequence<std::tuple_size_v<std::remove_cvref_t<decltype(schema_of<T>.fields)>>>{});

template <class T>
constexpr bool names_distinct() {
  const auto& f = fields_of<T>;
  for (size_t i = 0; i < f.size(); ++i)
    for (size_t j = i + 1; j < f.size(); ++j)
      if (!f[i].flat && !f[j].flat && f[i].name == f[j].name) return false;
  return true;
}

template <class T>
constexpr bool has_flat() {
  for (const FieldOps& f : fields_of<T>)
    if (f.flat) return true;
  return false;
}

template <class T>
constexpr RecordOps record_ops() {
  static_assert(names_distinct<T>(), "a record declares one field name twice");
  static_assert(fields_of<T>.size() <= 64, "a record holds at most 64 fields");
  constexpr const auto& s = schema_of<T>;
  static_assert(!has_flat<T>() || !s.deny_unknown, "a record with a flattened member cannot deny unknown fields");
  return RecordOps{s.name,          s.kind_text,   fields_of<T>.data(), fields_of<T>.size(),
                   s.deny_unknown, s.object_form, s.array_form && !has_flat<T>(), s.unit_alternative};
}

template <class T>
inline constexpr RecordOps record_ops_v = record_ops<T>();

template <class T, class V>
struct VariantTables;

template <class T, class... A>
struct VariantTables<T, std::variant<A...>> {
  static_assert((StructRecord<A> && ...), "every alternative of a variant record is a record");
  static constexpr const RecordOps* alts[] = {&record_ops_v<A>...};

  template <size_t I>
  static void* emplace_one(void* o) {
    return &(static_cast<T*>(o)->*schema_of<T>.member).template emplace<I>();
  }
  template <size_t I>
  static const void* get_one(const void* o) {
    return &std::get<I>(static_cast<const T*>(o)->*schema_of<T>.member);
  }
  template <size_t... I>
  static constexpr auto emplacers(std::index_sequence<I...>) {
    return std::array<void* (*)(void*), sizeof...(I)>{&emplace_one<I>...};
  }
  template <size_t... I>
  static constexpr auto getters(std::index_sequence<I...>) {
    return std::array<const void* (*)(const void*), sizeof...(I)>{&get_one<I>...};
  }
  static constexpr auto emplace_table = emplacers(std::index_sequence_for<A...>{});
  static constexpr auto get_table = getters(std::index_sequence_for<A...>{});

  static constexpr bool tag_free() {
    if (schema_of<T>.tag.empty()) return true;
    for (const RecordOps* a : alts)
      for (size_t i = 0; i < a->count; ++i)
        if (a->fields[i].name == schema_of<T>.tag) return false;
    return true;
  }

  static constexpr VariantOps ops() {
    constexpr const auto& s = schema_of<T>;
    static_assert(s.names.size() == sizeof...(A), "a variant record names each alternative once, in variant order");
    static_assert(tag_free(), "an alternative declares a field named like the tag");
    return VariantOps{
        s.name,
        s.tag,
        s.names.data(),
        alts,
        sizeof...(A),
        [](void* o, size_t i) { return emplace_table[i](o); },
        [](const void* o) { return (static_cast<const T*>(o)->*schema_of<T>.member).index(); },
        [](const void* o, size_t i) { return get_table[i](o); },
    };
  }
};

template <class T>
inline constexpr VariantOps variant_ops_v =
    VariantTables<T, typename std::remove_cvref_t<decltype(schema_of<T>)>::Member>::ops();

template <class E>
constexpr size_t enum_index(E e) {
  return static_cast<size_t>(e);
}
template <class E>
constexpr E enum_from(size_t i) {
  if constexpr (std::is_enum_v<E>)
    return static_cast<E>(i);
  else
    return E(static_cast<typename E::Tag>(i));
}

template <class I>
constexpr std::string_view integer_name() {
  constexpr bool s = std::is_signed_v<I>;
  switch (sizeof(I)) {
    case 1: return s ? "i8" : "u8";
    case 2: return s ? "i16" : "u16";
    case 4: return s ? "i32" : "u32";
    default: return s ? "i64" : "usize";
  }
}

}  // namespace detail

// ---------------------------------------------------------------------------
// Codecs

template <StructRecord T>
struct Codec<T> {
  static bool read(const json::Value& v, T& out, Reader& r) {
    return detail::read_record(detail::record_ops_v<T>, detail::record_ops_v<T>.kind, v, &out, r);
  }
  static json::Value write(const T& x) { return detail::write_record(detail::record_ops_v<T>, &x); }
};

template <VariantRecord T>
struct Codec<T> {
  static bool read(const json::Value& v, T& out, Reader& r) {
    return detail::read_variant(detail::variant_ops_v<T>, v, &out, r);
  }
  static json::Value write(const T& x) { return detail::write_variant(detail::variant_ops_v<T>, &x); }
};

template <Enumeration E>
struct Codec<E> {
  static constexpr auto names = enum_names(E{});
  static bool read(const json::Value& v, E& out, Reader& r) {
    size_t i = 0;
    if (!detail::read_enum(names.data(), names.size(), v, i, r)) return false;
    out = detail::enum_from<E>(i);
    return true;
  }
  static json::Value write(const E& x) { return json::Value(names[detail::enum_index(x)]); }
};

template <SelfDescribing T>
struct Codec<T> {
  static bool read(const json::Value& v, T& out, Reader& r) {
    Result<T, std::string> got = T::deserialize(v);
    if (!got.ok()) return r.fail(std::move(got).error());
    out = std::move(got).value();
    return true;
  }
  static json::Value write(const T& x) { return x.serialize(); }
};

template <>
struct Codec<json::Value> {
  static bool read(const json::Value& v, json::Value& out, Reader&) {
    out = v;
    return true;
  }
  static json::Value write(const json::Value& x) { return x; }
};

template <>
struct Codec<bool> {
  static bool read(const json::Value& v, bool& out, Reader& r) {
    if (!v.is_bool()) return r.fail(invalid_type(v, "a boolean"));
    out = v.as_bool();
    return true;
  }
  static json::Value write(bool x) { return json::Value(x); }
};

template <>
struct Codec<std::string> {
  static bool read(const json::Value& v, std::string& out, Reader& r) {
    if (!v.is_string()) return r.fail(invalid_type(v, "a string"));
    out.assign(v.str());
    return true;
  }
  static json::Value write(const std::string& x) { return json::Value(x); }
};

// Any JSON number; written as a JSON float, or null when not finite.
template <>
struct Codec<double> {
  static bool read(const json::Value& v, double& out, Reader& r) {
    if (!v.is_number()) return r.fail(invalid_type(v, "f64"));
    out = v.to_f64();
    return true;
  }
  static json::Value write(double x);
};

// Integers must be JSON integers within the type's range. Unsigned 64-bit
// members are indices and are named "usize" in messages.
template <std::integral I>
  requires(!std::same_as<I, bool>)
struct Codec<I> {
  static bool read(const json::Value& v, I& out, Reader& r) {
    if (v.is_u64()) {
      if (v.as_u64() > static_cast<uint64_t>(std::numeric_limits<I>::max()))
        return r.fail(invalid_value(v, detail::integer_name<I>()));
      out = static_cast<I>(v.as_u64());
      return true;
    }
    if (v.is_i64()) {
      if constexpr (std::is_signed_v<I>) {
        if (v.as_i64() >= static_cast<int64_t>(std::numeric_limits<I>::min())) {
          out = static_cast<I>(v.as_i64());
          return true;
        }
      }
      return r.fail(invalid_value(v, detail::integer_name<I>()));
    }
    return r.fail(invalid_type(v, detail::integer_name<I>()));
  }
  static json::Value write(I x) { return json::Value(x); }
};

template <class T>
struct Codec<std::optional<T>> {
  static bool read(const json::Value& v, std::optional<T>& out, Reader& r) {
    if (v.is_null()) {
      out.reset();
      return true;
    }
    out.emplace();
    return Codec<T>::read(v, *out, r);
  }
  static json::Value write(const std::optional<T>& x) { return x ? Codec<T>::write(*x) : json::Value(); }
};

template <class T>
struct Codec<std::vector<T>> {
  static bool read(const json::Value& v, std::vector<T>& out, Reader& r) {
    if (!v.is_array()) return r.fail(invalid_type(v, "a sequence"));
    out.clear();
    out.reserve(v.size());
    for (const json::Value& e : v.arr()) {
      out.emplace_back();
      if (!Codec<T>::read(e, out.back(), r)) return false;
    }
    return true;
  }
  static json::Value write(const std::vector<T>& x) {
    json::Array a;
    a.reserve(x.size());
    for (const T& e : x) a.push_back(Codec<T>::write(e));
    return json::Value(std::move(a));
  }
};

template <class T>
struct Codec<OrderedMap<std::string, T>> {
  using Map = OrderedMap<std::string, T>;
  static bool read(const json::Value& v, Map& out, Reader& r) {
    if (!v.is_object()) return r.fail(invalid_type(v, "a map"));
    out.clear();
    out.reserve(v.size());
    // A JSON object holds each key once, so entries append without lookup.
    for (const json::Member& m : v.obj())
      if (!Codec<T>::read(m.value, out.push_unique(std::string(m.name()), T{}), r)) return false;
    return true;
  }
  static json::Value write(const Map& x) {
    json::Object o;
    o.reserve(x.size());
    for (const auto& [k, e] : x) o.push_unique(json::Value(k), Codec<T>::write(e));
    return json::Value(std::move(o));
  }
};

// ---------------------------------------------------------------------------
// Entry points

// Reads a T from a JSON value: the record, or the reader's message.
template <class T>
Result<T, std::string> read(const json::Value& v) {
  T out{};
  Reader r;
  if (!Codec<T>::read(v, out, r)) return fail(std::move(r.message()));
  return out;
}

// Writes a T as JSON; cannot fail.
template <class T>
json::Value write(const T& x) {
  return Codec<T>::write(x);
}

// A record with every declared default applied (fields without one are
// value-initialised). `T{}` alone does not apply the schema's defaults.
template <StructRecord T>
T defaults() {
  T out{};
  detail::fill_defaults(detail::record_ops_v<T>, &out);
  return out;
}

// Reads a record from a request member (null when missing); a failure is a
// request error "member: message".
template <class T>
Result<T> decode(const json::Value& request, std::string_view member) {
  Result<T, std::string> got = read<T>(request[member]);
  if (!got.ok()) return fail(ErrorKind::Request, std::string(member) + ": " + got.error());
  return std::move(got).value();
}

// The name of an enumeration value.
template <Enumeration E>
constexpr std::string_view name_of(E e) {
  return enum_names(e)[detail::enum_index(e)];
}

}  // namespace zefa::record
