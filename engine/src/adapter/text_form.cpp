#include "adapter/text_form.hpp"

#include <charconv>
#include <cmath>
#include <stdexcept>

namespace zefa::adapter {

namespace {
// Integers at or beyond this magnitude are emitted as floats, as
// `data::number` does for computed values.
constexpr uint64_t kIntLimit = 9220000000000000000ULL;

void put_int(std::string& out, int64_t i) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, i);
  out.append(buf, r.ptr);
}
void put_u64(std::string& out, uint64_t u) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, u);
  out.append(buf, r.ptr);
}
}  // namespace

bool TextForm::float_key() const noexcept {
  std::string_view k = current_key();
  for (std::string_view f : keys_)
    if (f == k) return true;
  return false;
}

void TextForm::item() {
  if (depth_ == 0) return;
  Frame& f = stack_[depth_ - 1];
  if (f.object) return;  // the member name wrote the separator
  if (!f.first) out_ += ", ";
  f.first = false;
}

void TextForm::open(bool object) {
  item();
  if (depth_ == stack_.size()) throw std::length_error("text form nested too deeply");
  std::string_view k = current_key();
  stack_[depth_++] = Frame{k.data(), k.size(), object, true};
  out_ += object ? '{' : '[';
}

void TextForm::open_object() { open(true); }
void TextForm::open_array() { open(false); }

void TextForm::close() {
  out_ += stack_[--depth_].object ? '}' : ']';
}

void TextForm::key(std::string_view k) {
  Frame& f = stack_[depth_ - 1];
  if (!f.first) out_ += ", ";
  f.first = false;
  json::write_string(k, out_);
  out_ += ": ";
  f.key = k.data();
  f.key_size = k.size();
}

void TextForm::number(double d) {
  item();
  if (!float_key() && std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 9.22e18) {
    put_int(out_, static_cast<int64_t>(d));
  } else {
    json::write_double(d, out_);
  }
}

void TextForm::integer(int64_t i) {
  item();
  put_int(out_, i);
}

void TextForm::text(std::string_view s) {
  item();
  json::write_string(s, out_);
}

void TextForm::boolean(bool b) {
  item();
  out_ += b ? "true" : "false";
}

void TextForm::null() {
  item();
  out_ += "null";
}

// Recursion follows the value's nesting, which never exceeds json::kMaxDepth.
void TextForm::value(const Value& v) {
  switch (v.type()) {
    case json::Type::Null: null(); return;
    case json::Type::Bool: boolean(v.as_bool()); return;
    case json::Type::Number:
      if (v.is_f64()) {
        number(v.as_f64());
      } else if (v.is_u64()) {
        item();
        if (v.as_u64() < kIntLimit || float_key()) put_u64(out_, v.as_u64());
        else json::write_double(static_cast<double>(v.as_u64()), out_);
      } else {
        item();
        // Negative integers: compare magnitudes without overflowing.
        if (v.as_i64() > -static_cast<int64_t>(kIntLimit) || float_key()) put_int(out_, v.as_i64());
        else json::write_double(static_cast<double>(v.as_i64()), out_);
      }
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

}  // namespace zefa::adapter
