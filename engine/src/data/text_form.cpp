#include "data/text_form.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace zefa::data {

// Integers at or beyond this magnitude are emitted as floats, as
// `data::number` does for computed values.
constexpr uint64_t kIntLimit = 9220000000000000000ULL;

bool TextForm::float_key() const noexcept {
  std::string_view k = current_key();
  for (std::string_view f : keys_)
    if (f == k) return true;
  return false;
}

void TextForm::grow(size_t n) { buf_.resize(std::max<size_t>({256, 2 * buf_.size(), len_ + n})); }

template <class F>
void TextForm::put_with(std::string_view sep, F&& write) {
  put(sep, {});
  buf_.resize(len_);
  write(buf_);
  len_ = buf_.size();
}

void TextForm::open(bool object) {
  std::string_view sep = item();
  if (depth_ == stack_.size()) throw std::length_error("text form nested too deeply");
  std::string_view k = current_key();
  stack_[depth_++] = Frame{k.data(), k.size(), object, true};
  put(sep, object ? std::string_view("{") : std::string_view("["));
}

void TextForm::open_object() { open(true); }
void TextForm::open_array() { open(false); }

void TextForm::escaped_key(std::string_view sep, std::string_view k) {
  put_with(sep.substr(0, sep.size() - 1), [&](std::string& out) { json::write_string(k, out); });
  put(": ", {});
}

void TextForm::number(double d) {
  std::string_view sep = item();
  char buf[24];
  if (!float_key() && std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 9.22e18) {
    put(sep, digits(buf, static_cast<int64_t>(d)));
  } else {
    put_with(sep, [&](std::string& out) { json::write_double(d, out); });
  }
}

void TextForm::escaped_text(std::string_view sep, std::string_view s) {
  put_with(sep, [&](std::string& out) { json::write_string(s, out); });
}

// Recursion follows the value's nesting, which never exceeds json::kMaxDepth.
void TextForm::value(const Value& v) {
  char buf[24];
  switch (v.type()) {
    case json::Type::Null: null(); return;
    case json::Type::Bool: boolean(v.as_bool()); return;
    case json::Type::Number:
      if (v.is_f64()) return number(v.as_f64());
      if (v.is_u64() ? v.as_u64() < kIntLimit : v.as_i64() > -static_cast<int64_t>(kIntLimit)) {
        return put(item(), v.is_u64() ? digits(buf, v.as_u64()) : digits(buf, v.as_i64()));
      }
      // Beyond the integer range of the emission rule, unless a float key keeps it.
      if (float_key()) return put(item(), v.is_u64() ? digits(buf, v.as_u64()) : digits(buf, v.as_i64()));
      put_with(item(), [&](std::string& out) { json::write_double(v.to_f64(), out); });
      return;
    case json::Type::String: text(v.str()); return;
    case json::Type::Array:
      open_array();
      for (const Value& e : v.arr()) value(e);
      close();
      return;
    case json::Type::Object:
      open_object();
      for (const json::Member& m : v.obj()) {
        key(m.name());
        value(m.value);
      }
      close();
      return;
  }
}

}  // namespace zefa::data
