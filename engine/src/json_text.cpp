// JSON text: the strict parser and the compact writer.
#include <array>
#include <charconv>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "json.hpp"

namespace zefa::json {

namespace {

// 1 for bytes that end the fast path of a string: the quote, the backslash
// and the control characters.
constexpr auto kStrStop = [] {
  std::array<unsigned char, 256> t{};
  for (int c = 0; c < 0x20; ++c) t[c] = 1;
  t['"'] = 1;
  t['\\'] = 1;
  return t;
}();

class Parser {
 public:
  Parser(std::string_view text, int max_depth)
      : p_(text.data()), b_(text.data()), e_(text.data() + text.size()), max_depth_(max_depth) {}

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
        out = Value(s);
        return true;
      }
      case 't': return literal("true", out, Value(true));
      case 'f': return literal("false", out, Value(false));
      case 'n': return literal("null", out, Value());
      default:
        if (*p_ == '-' || (*p_ >= '0' && *p_ <= '9')) return number(out);
        return fail_at("expected value");
    }
  }

  bool literal(std::string_view word, Value& out, Value v) {
    for (char c : word) {
      if (p_ == e_) return fail_eof("EOF while parsing a value");
      if (*p_ != c) return fail_at("expected ident");
      ++p_;
    }
    out = std::move(v);
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
      while (p_ < e_ && *p_ >= '0' && *p_ <= '9') {
        unsigned d = static_cast<unsigned>(*p_ - '0');
        if (acc > (UINT64_MAX - d) / 10) overflow = true;
        acc = acc * 10 + d;
        ++p_;
      }
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
        out = Value(static_cast<unsigned long long>(acc));
        return true;
      }
      // "-0" is not a negative integer: it reads as the float -0.0.
      if (acc != 0 && acc <= static_cast<uint64_t>(INT64_MAX) + 1) {
        out = Value(static_cast<long long>(0 - acc));
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
    out = Value(d);
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
  bool string(std::string_view& s) {
    ++p_;  // opening quote
    const char* start = p_;
    while (p_ < e_ && !kStrStop[static_cast<unsigned char>(*p_)]) ++p_;
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
        while (p_ < e_ && !kStrStop[static_cast<unsigned char>(*p_)]) ++p_;
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

  // Elements and members are gathered on shared stacks and moved into a
  // container of exactly the right size once it is complete.
  bool array(Value& out, int depth) {
    if (depth > max_depth_) return fail_at("recursion limit exceeded");
    ++p_;
    skip_ws();
    if (p_ < e_ && *p_ == ']') {
      ++p_;
      out = Value(Array{});
      return true;
    }
    const size_t base = astack_.size();
    while (true) {
      Value v;
      if (!value(v, depth)) return false;
      astack_.push_back(std::move(v));
      skip_ws();
      if (p_ == e_) return fail_eof("EOF while parsing a list");
      if (*p_ == ']') {
        ++p_;
        Array items(std::make_move_iterator(astack_.begin() + static_cast<ptrdiff_t>(base)),
                    std::make_move_iterator(astack_.end()));
        astack_.resize(base);
        out = Value(std::move(items));
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
    ++p_;
    skip_ws();
    if (p_ < e_ && *p_ == '}') {
      ++p_;
      out = Value(Object{});
      return true;
    }
    const size_t base = mstack_.size();
    while (true) {
      skip_ws();
      if (p_ == e_) return fail_eof("EOF while parsing an object");
      if (*p_ != '"') return fail_at(*p_ == '}' ? "trailing comma" : "key must be a string");
      std::string_view k;
      if (!string(k)) return false;
      Value key(k);
      skip_ws();
      if (p_ == e_) return fail_eof("EOF while parsing an object");
      if (*p_ != ':') return fail_at("expected `:`");
      ++p_;
      Value v;
      if (!value(v, depth)) return false;
      mstack_.push_back(Member{std::move(key), std::move(v)});
      skip_ws();
      if (p_ == e_) return fail_eof("EOF while parsing an object");
      if (*p_ == '}') {
        ++p_;
        Object obj;
        obj.reserve(mstack_.size() - base);
        // A repeated key keeps the last value at the first key's position.
        for (size_t i = base; i < mstack_.size(); ++i)
          obj.put(std::move(mstack_[i].key), std::move(mstack_[i].value));
        mstack_.resize(base);
        out = Value(std::move(obj));
        return true;
      }
      if (*p_ != ',') return fail_at("expected `,` or `}`");
      ++p_;
    }
  }

  std::vector<Value> astack_;
  std::vector<Member> mstack_;
};

constexpr char kHex[] = "0123456789abcdef";

}  // namespace

size_t format_double(double d, char* buf);

namespace {

// The compact writer appends to a string through a raw cursor: the string is
// grown ahead in large steps, so each token costs no capacity check of its own.
class Writer {
 public:
  explicit Writer(std::string& out) : out_(out), used_(out.size()) {}
  ~Writer() { out_.resize(used_); }

  void value(const Value& v) {
    switch (v.type()) {
      case Type::Null: lit("null", 4); return;
      case Type::Bool: v.as_bool() ? lit("true", 4) : lit("false", 5); return;
      case Type::Number: number(v); return;
      case Type::String: string(v.str()); return;
      case Type::Array: {
        put('[');
        bool first = true;
        for (const Value& e : v.arr()) {
          if (!first) put(',');
          first = false;
          value(e);
        }
        put(']');
        return;
      }
      case Type::Object: {
        put('{');
        bool first = true;
        for (const Member& m : v.obj()) {
          if (!first) put(',');
          first = false;
          string(m.key.str());
          put(':');
          value(m.value);
        }
        put('}');
        return;
      }
    }
  }

  void string(std::string_view s) {
    // Worst case every byte becomes a six-byte escape.
    char* p = room(s.size() * 6 + 2);
    *p++ = '"';
    for (unsigned char c : s) {
      if (!kStrStop[c]) {
        *p++ = static_cast<char>(c);
        continue;
      }
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
    auto r = v.is_u64() ? std::to_chars(p, p + 32, v.as_u64()) : std::to_chars(p, p + 32, v.as_i64());
    used_ = static_cast<size_t>(r.ptr - out_.data());
  }
};

}  // namespace

std::string ParseError::to_string() const {
  return message + " at line " + std::to_string(line) + " column " + std::to_string(column);
}

Result<Value, ParseError> parse(std::string_view text, int max_depth) {
  Parser p(text, max_depth);
  Value out;
  ParseError err;
  if (!p.run(out, err)) return Failure<ParseError>{std::move(err)};
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
  char digits[24];
  int n = 0;
  while (*p != 'e') {
    if (*p != '.') digits[n++] = *p;
    ++p;
  }
  ++p;  // 'e'
  int exp = 0;
  std::from_chars(*p == '+' ? p + 1 : p, r.ptr, exp);
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
