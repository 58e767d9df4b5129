// The writer of the text form (see `dumps_float`): strategies stream their
// results through it directly instead of building a JSON value first, and
// `dumps_float` walks a value through the same writer.
#pragma once

#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "data/codecs.hpp"
#include "json.hpp"

namespace zefa::data {

// Single use: open and close containers in pairs, name every member with
// `key` before its value, then `finish`. Member names passed to `key` must
// stay alive until the container that holds them is closed.
class TextForm {
 public:
  // `expected`: the likely length of the text, to allocate once.
  explicit TextForm(FloatKeys keys, size_t expected = 128) : keys_(keys) { buf_.resize(expected); }
  TextForm(const TextForm&) = delete;
  TextForm& operator=(const TextForm&) = delete;

  void open_object();
  void open_array();
  void close() { put(stack_[--depth_].object ? std::string_view("}") : std::string_view("]"), {}); }
  // Names the next member of the open object.
  void key(std::string_view k) {
    Frame& f = stack_[depth_ - 1];
    std::string_view sep = f.first ? std::string_view("\"") : std::string_view(", \"");
    f.first = false;
    f.key = k.data();
    f.key_size = k.size();
    if (plain(k)) return put(sep, k, "\": ");
    escaped_key(sep, k);
  }

  // A number under the current member name: kept when the name is a float
  // key, otherwise normalised (integral floats become integers).
  void number(double d);
  void integer(int64_t i) {
    char buf[24];
    put(item(), digits(buf, i));
  }
  void text(std::string_view s) {
    std::string_view sep = item();
    if (plain(s)) return put(sep, "\"", s, "\"");
    escaped_text(sep, s);
  }
  void boolean(bool b) { put(item(), b ? std::string_view("true") : std::string_view("false")); }
  void null() { put(item(), "null"); }
  // Any JSON value, walked with the same rules.
  void value(const Value& v);

  // The text written so far, as a JSON string.
  Value finish() const { return Value(std::string_view(buf_.data(), len_)); }

 private:
  // Trivial on purpose: the stack is never initialised as a whole.
  struct Frame {
    const char* key;  // last member name, or the array's own name
    size_t key_size;
    bool object;
    bool first;
  };
  // The separator that the next value needs: ", " between array items.
  std::string_view item() noexcept {
    if (depth_ == 0) return {};
    Frame& f = stack_[depth_ - 1];
    if (f.object) return {};  // the member name wrote the separator
    if (f.first) {
      f.first = false;
      return {};
    }
    return ", ";
  }
  // Texts that JSON string notation writes unchanged.
  static bool plain(std::string_view s) noexcept {
    for (unsigned char c : s)
      if (c < 0x20 || c == '"' || c == '\\') return false;
    return true;
  }
  template <class T>
  static std::string_view digits(char (&buf)[24], T v) noexcept {
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return {buf, static_cast<size_t>(r.ptr - buf)};
  }
  void escaped_key(std::string_view sep, std::string_view k);
  void escaped_text(std::string_view sep, std::string_view s);
  // Appends the pieces with at most one growth of the buffer. Inline, so
  // that the constant pieces become plain stores.
  void put(std::string_view a, std::string_view b, std::string_view c = {}, std::string_view d = {}) {
    size_t n = a.size() + b.size() + c.size() + d.size();
    if (len_ + n > buf_.size()) grow(n);
    char* p = buf_.data() + len_;
    if (!a.empty()) std::memcpy(p, a.data(), a.size());
    p += a.size();
    if (!b.empty()) std::memcpy(p, b.data(), b.size());
    p += b.size();
    if (!c.empty()) std::memcpy(p, c.data(), c.size());
    p += c.size();
    if (!d.empty()) std::memcpy(p, d.data(), d.size());
    len_ += n;
  }
  void grow(size_t n);
  // Runs a writer of the JSON core (rare escapes, floats) on the buffer.
  template <class F>
  void put_with(std::string_view sep, F&& write);
  void open(bool object);
  bool float_key() const noexcept;
  std::string_view current_key() const noexcept {
    return depth_ ? std::string_view(stack_[depth_ - 1].key, stack_[depth_ - 1].key_size) : std::string_view();
  }

  FloatKeys keys_;
  // The text is buf_[0, len_); buf_ beyond len_ is spare room, so the hot
  // path is a bounds check and a memcpy.
  std::string buf_;
  size_t len_ = 0;
  // Values nest at most json::kMaxDepth deep and strategies wrap them in a
  // few levels of their own, so a fixed stack suffices.
  std::array<Frame, json::kMaxDepth + 8> stack_;
  size_t depth_ = 0;
};

}  // namespace zefa::data
