// JSON text: the strict parser and the compact writer.
#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "json.hpp"

namespace zefa::json {

namespace {

constexpr uint64_t kOnes = 0x0101010101010101ULL;

// The high bit of each byte of `w` that is a quote, a backslash or a control
// character; exact for the lowest such byte (borrows only reach upwards),
// which is the first in text order.
inline uint64_t string_stops(uint64_t w) noexcept {
  const uint64_t q = w ^ (kOnes * '"');
  const uint64_t b = w ^ (kOnes * '\\');
  return (((q - kOnes) & ~q) | ((b - kOnes) & ~b) | (w - kOnes * 0x20)) & ~w & (kOnes * 0x80);
}

// 1 for bytes that end the fast path of a string: the quote, the backslash
// and the control characters.
constexpr auto kStrStop = [] {
  std::array<unsigned char, 256> t{};
  for (int c = 0; c < 0x20; ++c) t[c] = 1;
  t['"'] = 1;
  t['\\'] = 1;
  return t;
}();

}  // namespace

// Elements and members are gathered on one stack of values (a member is its
// key and its value) and taken over bytewise into a container of exactly the
// right size once it is complete.
class Parser {
 public:
  Parser(std::string_view text, int max_depth)
      : p_(text.data()), b_(text.data()), e_(text.data() + text.size()), max_depth_(max_depth) {}
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;
  ~Parser() {
    for (size_t i = 0; i < top_; ++i) stack_[i].~Value();
    std::free(stack_);
  }

  int reached() const noexcept { return reached_; }

  bool run(Value& out, ParseError& err) {
    bool ok = value(out, 0);
    if (ok) {
      skip_ws();
      if (p_ != e_) ok = fail_at("trailing characters");
    }
    if (!ok) {
      err.message = msg_;
      locate(err);
    }
    return ok;
  }

 private:
  const char* p_;
  const char* b_;
  const char* e_;
  int max_depth_;
  int reached_ = 0;  // the deepest container opened
  const char* errpos_ = nullptr;  // offending byte, or e_ at end of input
  const char* msg_ = "";
  std::string scratch_;

  // Always returns false so callers can `return fail(...)`.
  bool fail_at(const char* m) {
    msg_ = m;
    errpos_ = p_;
    return false;
  }
  bool fail_eof(const char* m) {
    msg_ = m;
    errpos_ = e_;
    return false;
  }

  // Line and column are computed only when an error is reported: the column
  // counts bytes up to and including the offending one.
  void locate(ParseError& err) const {
    const char* upto = errpos_ < e_ ? errpos_ + 1 : e_;
    size_t line = 1;
    const char* ls = b_;
    for (const char* q = b_; q < upto; ++q)
      if (*q == '\n') {
        ++line;
        ls = q + 1;
      }
    err.line = line;
    err.column = static_cast<size_t>(upto - ls);
  }

  void skip_ws() {
    while (p_ < e_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t')) ++p_;
  }

  bool value(Value& out, int depth) {
    skip_ws();
    if (p_ == e_) return fail_eof("EOF while parsing a value");
    switch (*p_) {
      case '{': return object(out, depth + 1);
      case '[': return array(out, depth + 1);
      case '"': {
        std::string_view s;
        if (!string(s)) return false;
        make_string(out, s);
        return true;
      }
      case 't': return word("true", out, Value::kTrue);
      case 'f': return word("false", out, Value::kFalse);
      case 'n': return word("null", out, Value::kNull);
      default:
        if (*p_ == '-' || (*p_ >= '0' && *p_ <= '9')) return number(out);
        return fail_at("expected value");
    }
  }

  // `out` is always a fresh null value here: scalars and empty containers
  // are written into its bytes directly.
  template <size_t N>
  bool word(const char (&text)[N], Value& out, unsigned char tag) {
    if (static_cast<size_t>(e_ - p_) >= N - 1 && std::memcmp(p_, text, N - 1) == 0) {
      p_ += N - 1;
      out.b_[0] = tag;
      return true;
    }
    return literal(text, out, tag);
  }

  bool literal(std::string_view word, Value& out, unsigned char tag) {
    for (char c : word) {
      if (p_ == e_) return fail_eof("EOF while parsing a value");
      if (*p_ != c) return fail_at("expected ident");
      ++p_;
    }
    out.b_[0] = tag;
    return true;
  }

  bool number(Value& out) {
    const char* start = p_;
    bool neg = false;
    if (*p_ == '-') {
      neg = true;
      ++p_;
      if (p_ == e_) return fail_eof("EOF while parsing a value");
    }
    if (*p_ < '0' || *p_ > '9') return fail_at("invalid number");
    uint64_t acc = 0;
    bool overflow = false;
    if (*p_ == '0') {
      ++p_;
      if (p_ < e_ && *p_ >= '0' && *p_ <= '9') return fail_at("invalid number");
    } else {
      const char* digits = p_;
      while (p_ < e_ && *p_ >= '0' && *p_ <= '9') {
        acc = acc * 10 + static_cast<unsigned>(*p_ - '0');
        ++p_;
      }
      // Twenty digits may still fit 64 bits; beyond that the sum wrapped.
      const size_t n = static_cast<size_t>(p_ - digits);
      overflow = n > 20 || (n == 20 && std::string_view(digits, 20) > "18446744073709551615");
    }
    bool is_float = false;
    if (p_ < e_ && *p_ == '.') {
      is_float = true;
      ++p_;
      if (p_ == e_) return fail_eof("EOF while parsing a value");
      if (*p_ < '0' || *p_ > '9') return fail_at("invalid number");
      while (p_ < e_ && *p_ >= '0' && *p_ <= '9') ++p_;
    }
    if (p_ < e_ && (*p_ == 'e' || *p_ == 'E')) {
      is_float = true;
      ++p_;
      if (p_ < e_ && (*p_ == '+' || *p_ == '-')) ++p_;
      if (p_ == e_) return fail_eof("EOF while parsing a value");
      if (*p_ < '0' || *p_ > '9') return fail_at("invalid number");
      while (p_ < e_ && *p_ >= '0' && *p_ <= '9') ++p_;
    }
    if (!is_float && !overflow) {
      if (!neg) {
        out.b_[0] = Value::kU64;
        out.store(acc);
        return true;
      }
      // "-0" is not a negative integer: it reads as the float -0.0.
      if (acc != 0 && acc <= static_cast<uint64_t>(INT64_MAX) + 1) {
        out.b_[0] = Value::kI64;
        out.store(0 - acc);
        return true;
      }
    }
    double d = 0;
    auto [q, ec] = std::from_chars(start, p_, d);
    if (ec == std::errc::result_out_of_range) {
      // Underflow reads as zero; overflow is an error, never infinity.
      if (!tiny(start, p_)) {
        p_ = start;
        return fail_at("number out of range");
      }
      d = neg ? -0.0 : 0.0;
    } else if (ec != std::errc() || q != p_) {
      p_ = start;
      return fail_at("invalid number");
    }
    out.b_[0] = Value::kF64;
    out.store(d);
    return true;
  }

  // Whether the number text's magnitude is below 1 (an underflow rather
  // than an overflow when the conversion reports out of range).
  static bool tiny(const char* s, const char* e) {
    if (*s == '-') ++s;
    long long intdigits = 0;
    long long leadzeros = 0;
    bool seen = false;
    const char* q = s;
    while (q < e && *q >= '0' && *q <= '9') {
      if (*q != '0' || seen) {
        seen = true;
        ++intdigits;
      }
      ++q;
    }
    if (q < e && *q == '.') {
      ++q;
      while (q < e && *q >= '0' && *q <= '9') {
        if (!seen) {
          if (*q == '0') ++leadzeros;
          else seen = true;
        }
        ++q;
      }
    }
    long long exp = 0;
    if (q < e && (*q == 'e' || *q == 'E')) {
      ++q;
      bool eneg = false;
      if (*q == '+' || *q == '-') eneg = *q++ == '-';
      while (q < e) {
        if (exp < 100000000) exp = exp * 10 + (*q - '0');
        ++q;
      }
      if (eneg) exp = -exp;
    }
    long long mag = (intdigits > 0 ? intdigits : -leadzeros) + exp;
    return mag < 0;
  }

  static int hexval(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  bool hex4(unsigned& cp) {
    cp = 0;
    for (int i = 0; i < 4; ++i) {
      if (p_ == e_) return fail_eof("EOF while parsing a string");
      int h = hexval(*p_);
      if (h < 0) return fail_at("invalid escape");
      cp = cp * 16 + static_cast<unsigned>(h);
      ++p_;
    }
    return true;
  }

  static void put_utf8(std::string& s, unsigned cp) {
    if (cp < 0x80) {
      s += static_cast<char>(cp);
    } else if (cp < 0x800) {
      s += static_cast<char>(0xC0 | (cp >> 6));
      s += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      s += static_cast<char>(0xE0 | (cp >> 12));
      s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      s += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      s += static_cast<char>(0xF0 | (cp >> 18));
      s += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      s += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }

  // On success `s` views either the input or the scratch buffer, valid until
  // the next call.
  // A string value for `s`, which views the input or the scratch buffer. A
  // short one inside the input is built from two word loads; the bytes past
  // its end are masked off.
  void make_string(Value& out, std::string_view s) {
    const size_t n = s.size();
    const auto at = reinterpret_cast<uintptr_t>(s.data());
    if (n > Value::kInline || at < reinterpret_cast<uintptr_t>(b_) || reinterpret_cast<uintptr_t>(e_) - at < 16) {
      out = Value(s);
      return;
    }
    uint64_t lo, hi;
    std::memcpy(&lo, s.data(), 8);
    std::memcpy(&hi, s.data() + 6, 8);
    // Bytes 2..7 carry characters 0..5, bytes 8..15 characters 6..13.
    lo = n >= 6 ? lo << 16 : (lo << 16) & ((uint64_t{1} << (16 + 8 * n)) - 1);
    hi = n >= 14 ? hi : n <= 6 ? 0 : hi & ((uint64_t{1} << (8 * (n - 6))) - 1);
    lo |= Value::kSStr | (uint64_t{n} << 8);
    std::memcpy(out.b_, &lo, 8);
    std::memcpy(out.b_ + 8, &hi, 8);
  }

  // Advances to the next quote, backslash or control character (or the end).
  void scan_plain() {
    while (e_ - p_ >= 8) {
      uint64_t w;
      std::memcpy(&w, p_, 8);
      if (uint64_t stop = string_stops(w)) {
        p_ += std::countr_zero(stop) >> 3;
        return;
      }
      p_ += 8;
    }
    while (p_ < e_ && !kStrStop[static_cast<unsigned char>(*p_)]) ++p_;
  }

  bool string(std::string_view& s) {
    ++p_;  // opening quote
    const char* start = p_;
    scan_plain();
    if (p_ == e_) return fail_eof("EOF while parsing a string");
    if (*p_ == '"') {
      s = std::string_view(start, static_cast<size_t>(p_ - start));
      ++p_;
      return true;
    }
    scratch_.assign(start, p_);
    while (true) {
      if (p_ == e_) return fail_eof("EOF while parsing a string");
      unsigned char c = static_cast<unsigned char>(*p_);
      if (c == '"') {
        ++p_;
        s = scratch_;
        return true;
      }
      if (c < 0x20) return fail_at("control character (\\u0000-\\u001F) found while parsing a string");
      if (c != '\\') {
        const char* run = p_;
        scan_plain();
        scratch_.append(run, p_);
        continue;
      }
      ++p_;
      if (p_ == e_) return fail_eof("EOF while parsing a string");
      char esc = *p_++;
      switch (esc) {
        case '"': scratch_ += '"'; break;
        case '\\': scratch_ += '\\'; break;
        case '/': scratch_ += '/'; break;
        case 'b': scratch_ += '\b'; break;
        case 'f': scratch_ += '\f'; break;
        case 'n': scratch_ += '\n'; break;
        case 'r': scratch_ += '\r'; break;
        case 't': scratch_ += '\t'; break;
        case 'u': {
          unsigned cp;
          if (!hex4(cp)) return false;
          if (cp >= 0xDC00 && cp <= 0xDFFF) {
            --p_;
            return fail_at("lone trailing surrogate in hex escape");
          }
          if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (p_ == e_) return fail_eof("EOF while parsing a string");
            if (*p_ != '\\' || p_ + 1 >= e_ || p_[1] != 'u') {
              return fail_at("lone leading surrogate in hex escape");
            }
            p_ += 2;
            unsigned lo;
            if (!hex4(lo)) return false;
            if (lo < 0xDC00 || lo > 0xDFFF) {
              --p_;
              return fail_at("lone leading surrogate in hex escape");
            }
            cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
          }
          put_utf8(scratch_, cp);
          break;
        }
        default:
          --p_;
          return fail_at("invalid escape");
      }
    }
  }

  void push(Value& v) {
    if (top_ == cap_) {
      size_t cap = std::max<size_t>(64, cap_ * 2);
      void* grown = std::realloc(static_cast<void*>(stack_), cap * sizeof(Value));
      if (!grown) throw std::bad_alloc();
      stack_ = static_cast<Value*>(grown);
      cap_ = cap;
    }
    std::memcpy(static_cast<void*>(stack_ + top_), &v, sizeof(Value));
    v.clear_bits(Value::kNull);
    ++top_;
  }

  bool array(Value& out, int depth) {
    if (depth > max_depth_) return fail_at("recursion limit exceeded");
    reached_ = std::max(reached_, depth);
    ++p_;
    skip_ws();
    if (p_ < e_ && *p_ == ']') {
      ++p_;
      out.b_[0] = Value::kArr;
      return true;
    }
    const size_t base = top_;
    while (true) {
      Value v;
      if (!value(v, depth)) return false;
      push(v);
      skip_ws();
      if (p_ == e_) return fail_eof("EOF while parsing a list");
      if (*p_ == ']') {
        ++p_;
        out = Value(Array::relocated(stack_ + base, top_ - base));
        top_ = base;
        return true;
      }
      if (*p_ != ',') return fail_at("expected `,` or `]`");
      ++p_;
      skip_ws();
      if (p_ < e_ && *p_ == ']') return fail_at("trailing comma");
    }
  }

  bool object(Value& out, int depth) {
    if (depth > max_depth_) return fail_at("recursion limit exceeded");
    reached_ = std::max(reached_, depth);
    ++p_;
    skip_ws();
    if (p_ < e_ && *p_ == '}') {
      ++p_;
      out.b_[0] = Value::kObj;
      return true;
    }
    const size_t base = top_;
    while (true) {
      skip_ws();
      if (p_ == e_) return fail_eof("EOF while parsing an object");
      if (*p_ != '"') return fail_at(*p_ == '}' ? "trailing comma" : "key must be a string");
      std::string_view k;
      if (!string(k)) return false;
      Value key;
      make_string(key, k);
      skip_ws();
      if (p_ == e_) return fail_eof("EOF while parsing an object");
      if (*p_ != ':') return fail_at("expected `:`");
      ++p_;
      Value v;
      if (!value(v, depth)) return false;
      push(key);
      push(v);
      skip_ws();
      if (p_ == e_) return fail_eof("EOF while parsing an object");
      if (*p_ == '}') {
        ++p_;
        static_assert(sizeof(Member) == 2 * sizeof(Value));
        out = Value(Object::relocated(reinterpret_cast<Member*>(stack_ + base), (top_ - base) / 2));
        top_ = base;
        return true;
      }
      if (*p_ != ',') return fail_at("expected `,` or `}`");
      ++p_;
    }
  }

  Value* stack_ = nullptr;
  size_t top_ = 0;
  size_t cap_ = 0;
};

namespace {
constexpr char kHex[] = "0123456789abcdef";
}  // namespace

size_t format_double(double d, char* buf);

// The compact writer appends to a string through a raw cursor: the string is
// grown ahead in large steps, so each token costs no capacity check of its own.
class Writer {
 public:
  explicit Writer(std::string& out) : out_(out), used_(out.size()) {}
  ~Writer() { out_.resize(used_); }

  // Recursion follows the value's nesting, which never exceeds the limit.
  void value(const Value& v) {
    switch (v.b_[0]) {
      case Value::kNull: lit("null", 4); return;
      case Value::kFalse: lit("false", 5); return;
      case Value::kTrue: lit("true", 4); return;
      case Value::kU64:
      case Value::kI64:
      case Value::kF64: number(v); return;
      case Value::kSStr:
      case Value::kLStr: string(v); return;
      case Value::kArr: {
        const Array& a = v.arr();
        if (a.empty()) return lit("[]", 2);
        put('[');
        value(a[0]);
        for (size_t i = 1; i < a.size(); ++i) {
          put(',');
          value(a[i]);
        }
        put(']');
        return;
      }
      default: {
        const Object& o = v.obj();
        if (o.empty()) return lit("{}", 2);
        char open = '{';
        for (const Member& m : o) {
          put(open);
          open = ',';
          string(m.key);
          put(':');
          value(m.value);
        }
        put('}');
        return;
      }
    }
  }

  // A short string is copied out of the value's own bytes whole; the text
  // is checked in two words, the padding past its end masked off.
  void string(const Value& v) {
    const size_t n = v.b_[1];
    if (v.b_[0] != Value::kSStr) return string(v.str());
    uint64_t lo, hi;
    std::memcpy(&lo, v.b_, 8);
    std::memcpy(&hi, v.b_ + 8, 8);
    const uint64_t lo_mask = (uint64_t{1} << (8 * std::min<size_t>(n, 6))) - 1;
    const uint64_t hi_mask = n >= 14 ? ~uint64_t{0} : n <= 6 ? 0 : (uint64_t{1} << (8 * (n - 6))) - 1;
    if ((string_stops(lo >> 16) & lo_mask) | (string_stops(hi) & hi_mask)) return string(v.str());
    char* p = room(16);
    *p = '"';
    std::memcpy(p + 1, v.b_ + 2, Value::kInline);
    p[n + 1] = '"';
    used_ += n + 2;
  }

  // Plain runs are copied a word at a time; only the bytes that need an
  // escape are looked at one by one.
  void string(std::string_view s) {
    const char* src = s.data();
    const char* end = src + s.size();
    // Room for the quotes and a word written past the end.
    char* p = room(s.size() + 2 + 8);
    *p++ = '"';
    while (true) {
      while (end - src >= 8) {
        uint64_t w;
        std::memcpy(&w, src, 8);
        std::memcpy(p, &w, 8);
        if (uint64_t stop = string_stops(w)) {
          size_t k = static_cast<size_t>(std::countr_zero(stop) >> 3);
          src += k;
          p += k;
          break;
        }
        src += 8;
        p += 8;
      }
      while (src < end && !kStrStop[static_cast<unsigned char>(*src)]) *p++ = *src++;
      if (src == end) break;
      // An escape takes at most six bytes; the rest may still need its room.
      used_ = static_cast<size_t>(p - out_.data());
      p = room(static_cast<size_t>(end - src) + 6 + 1 + 8);
      unsigned char c = static_cast<unsigned char>(*src++);
      *p++ = '\\';
      switch (c) {
        case '"': *p++ = '"'; break;
        case '\\': *p++ = '\\'; break;
        case '\b': *p++ = 'b'; break;
        case '\f': *p++ = 'f'; break;
        case '\n': *p++ = 'n'; break;
        case '\r': *p++ = 'r'; break;
        case '\t': *p++ = 't'; break;
        default:
          *p++ = 'u';
          *p++ = '0';
          *p++ = '0';
          *p++ = kHex[c >> 4];
          *p++ = kHex[c & 15];
      }
    }
    *p++ = '"';
    used_ = static_cast<size_t>(p - out_.data());
  }

 private:
  std::string& out_;
  size_t used_;

  char* room(size_t n) {
    if (out_.size() - used_ < n) out_.resize(std::max(out_.size() * 2, used_ + n + 256));
    return out_.data() + used_;
  }
  void put(char c) {
    *room(1) = c;
    ++used_;
  }
  void lit(const char* s, size_t n) {
    std::memcpy(room(n), s, n);
    used_ += n;
  }
  void number(const Value& v) {
    char* p = room(40);
    if (v.is_f64()) {
      used_ += format_double(v.as_f64(), p);
      return;
    }
    uint64_t u = v.as_u64();
    if (v.is_i64()) {
      *p++ = '-';
      u = 0 - u;
    }
    used_ = static_cast<size_t>(decimal(p, u) - out_.data());
  }

  // Two digits per division, written backwards into a scratch buffer that
  // is copied out whole (the room asked for covers the overshoot).
  static char* decimal(char* p, uint64_t u) {
    static constexpr char kPairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    char tmp[48];
    char* t = tmp + 24;
    while (u > UINT32_MAX) {
      t -= 2;
      std::memcpy(t, kPairs + 2 * (u % 100), 2);
      u /= 100;
    }
    // The rest in 32-bit arithmetic, which divides faster.
    auto w = static_cast<uint32_t>(u);
    while (w >= 100) {
      t -= 2;
      std::memcpy(t, kPairs + 2 * (w % 100), 2);
      w /= 100;
    }
    u = w;
    if (u >= 10) {
      t -= 2;
      std::memcpy(t, kPairs + 2 * u, 2);
    } else {
      *--t = static_cast<char>('0' + u);
    }
    std::memcpy(p, t, 24);
    return p + (tmp + 24 - t);
  }
};

std::string ParseError::to_string() const {
  return message + " at line " + std::to_string(line) + " column " + std::to_string(column);
}

Result<Value, ParseError> parse(std::string_view text, int max_depth, int* depth) {
  Parser p(text, max_depth);
  Value out;
  ParseError err;
  if (!p.run(out, err)) return Failure<ParseError>{std::move(err)};
  if (depth) *depth = p.reached();
  return out;
}

void write_string(std::string_view s, std::string& out) {
  Writer w(out);
  w.string(s);
}

// Formats into `buf` (at least 32 bytes); returns the length.
size_t format_double(double d, char* buf) {
  char* o = buf;
  auto put = [&](const char* src, size_t n) {
    std::memcpy(o, src, n);
    o += n;
  };
  if (!std::isfinite(d)) {
    put("null", 4);
    return 4;
  }
  if (d == 0) {
    if (std::signbit(d)) put("-0.0", 4);
    else put("0.0", 3);
    return static_cast<size_t>(o - buf);
  }
  // Shortest round-trip digits in scientific form, e.g. "-1.2345e+02".
  char sci[40];
  auto r = std::to_chars(sci, sci + sizeof sci, d, std::chars_format::scientific);
  const char* p = sci;
  if (*p == '-') {
    *o++ = '-';
    ++p;
  }
  const char* e = r.ptr;
  while (*--e != 'e') {
  }
  // "D" or "D.DDD" before the exponent.
  char digits[24];
  digits[0] = p[0];
  int n = 1;
  if (p[1] == '.') {
    std::memcpy(digits + 1, p + 2, static_cast<size_t>(e - p - 2));
    n += static_cast<int>(e - p - 2);
  }
  int exp = 0;
  for (const char* q = e + 2; q < r.ptr; ++q) exp = exp * 10 + (*q - '0');
  if (e[1] == '-') exp = -exp;
  if (exp >= -5 && exp <= 15) {
    if (exp >= 0) {
      if (n <= exp + 1) {
        put(digits, static_cast<size_t>(n));
        std::memset(o, '0', static_cast<size_t>(exp + 1 - n));
        o += exp + 1 - n;
        put(".0", 2);
      } else {
        put(digits, static_cast<size_t>(exp + 1));
        *o++ = '.';
        put(digits + exp + 1, static_cast<size_t>(n - exp - 1));
      }
    } else {
      put("0.", 2);
      std::memset(o, '0', static_cast<size_t>(-exp - 1));
      o += -exp - 1;
      put(digits, static_cast<size_t>(n));
    }
    return static_cast<size_t>(o - buf);
  }
  *o++ = digits[0];
  if (n > 1) {
    *o++ = '.';
    put(digits + 1, static_cast<size_t>(n - 1));
  }
  put(exp < 0 ? "e-" : "e+", 2);
  auto er = std::to_chars(o, o + 8, exp < 0 ? -exp : exp);
  o = er.ptr;
  return static_cast<size_t>(o - buf);
}

void write_double(double d, std::string& out) {
  char buf[40];
  out.append(buf, format_double(d, buf));
}

std::string dump(const Value& v) {
  std::string out;
  dump_to(v, out);
  return out;
}

void dump_to(const Value& v, std::string& out) {
  Writer w(out);
  w.value(v);
}

}  // namespace zefa::json
