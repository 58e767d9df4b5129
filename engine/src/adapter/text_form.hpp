// The writer of the text form (see `dumps_float`): strategies stream their
// results through it directly instead of building a JSON value first, and
// `dumps_float` walks a value through the same writer.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "adapter/codecs.hpp"
#include "json.hpp"

namespace zefa::adapter {

// Single use: open and close containers in pairs, name every member with
// `key` before its value, then `finish`. Member names passed to `key` must
// stay alive until the container that holds them is closed.
class TextForm {
 public:
  explicit TextForm(FloatKeys keys) noexcept : keys_(keys) {}
  TextForm(const TextForm&) = delete;
  TextForm& operator=(const TextForm&) = delete;

  void open_object();
  void open_array();
  void close();
  // Names the next member of the open object.
  void key(std::string_view k);

  // A number under the current member name: kept when the name is a float
  // key, otherwise normalised (integral floats become integers).
  void number(double d);
  void integer(int64_t i);
  void text(std::string_view s);
  void boolean(bool b);
  void null();
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
  std::string_view item();
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
  // Values nest at most json::kMaxDepth deep, so a fixed stack suffices.
  std::array<Frame, json::kMaxDepth + 2> stack_;
  size_t depth_ = 0;
};

}  // namespace zefa::adapter
