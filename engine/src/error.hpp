// The engine's error value and the result type every operation returns.
// Exceptions are reserved for internal faults; the exported functions turn
// them into "engine panic".
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>

namespace zefa {

enum class ErrorKind : uint8_t {
  Rules = 0,
  Device = 1,
  Override = 2,
  Request = 3,
  Engine = 4,
  Unsupported = 5,
  Value = 6,
};

struct EngineError {
  ErrorKind kind = ErrorKind::Engine;
  std::string message;

  // A plain message: the engine kind, text unchanged.
  static EngineError from(std::string text) { return {ErrorKind::Engine, std::move(text)}; }
  // What the host sees: kinds Override and Unsupported carry a prefix.
  std::string to_string() const;
  friend bool operator==(const EngineError&, const EngineError&) = default;
};

// Wraps an error so a result can be built from it unambiguously, even when
// the value and error types coincide (plain messages are strings).
template <class E>
struct Failure {
  E error;
};

inline Failure<EngineError> fail(ErrorKind kind, std::string message) {
  return {EngineError{kind, std::move(message)}};
}
// A plain message, for helpers whose callers decide the kind.
inline Failure<std::string> fail(std::string message) { return {std::move(message)}; }

template <class T, class E = EngineError>
class [[nodiscard]] Result {
 public:
  Result(T v) : v_(std::in_place_index<0>, std::move(v)) {}
  Result(Failure<E> f) : v_(std::in_place_index<1>, std::move(f.error)) {}
  // A plain message becomes an engine-kind error where one is expected.
  template <class U = E, class = std::enable_if_t<std::is_same_v<U, EngineError>>>
  Result(Failure<std::string> f) : v_(std::in_place_index<1>, EngineError::from(std::move(f.error))) {}

  bool ok() const noexcept { return v_.index() == 0; }
  explicit operator bool() const noexcept { return ok(); }
  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  E& error() & { return std::get<1>(v_); }
  const E& error() const& { return std::get<1>(v_); }
  E&& error() && { return std::get<1>(std::move(v_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }

 private:
  std::variant<T, E> v_;
};

struct Unit {
  friend bool operator==(Unit, Unit) { return true; }
};
// Success without a value.
template <class E = EngineError>
using Status = Result<Unit, E>;
inline constexpr Unit ok_unit{};

template <class T, class E>
Failure<E> failure_of(Result<T, E>&& r) {
  return {std::move(r).error()};
}

// A helper's plain-message result as an EngineError result of `kind`, the
// message unchanged; a value passes through.
template <class T>
Result<T> with_kind(ErrorKind kind, Result<T, std::string>&& r) {
  if (!r.ok()) return fail(kind, std::move(r).error());
  return std::move(r).value();
}

}  // namespace zefa

#define ZEFA_CAT2_(a, b) a##b
#define ZEFA_CAT_(a, b) ZEFA_CAT2_(a, b)
// ZEFA_TRY(auto x, expr): evaluates a Result, returns its failure from the
// enclosing function, otherwise binds the value.
#define ZEFA_TRY(decl, expr) ZEFA_TRY_IMPL_(ZEFA_CAT_(zefa_try_, __LINE__), decl, expr)
#define ZEFA_TRY_IMPL_(tmp, decl, expr)                                   \
  auto tmp = (expr);                                                      \
  if (!tmp.ok()) return ::zefa::failure_of(std::move(tmp));               \
  decl = std::move(tmp).value()
// ZEFA_CHECK(expr): returns the failure of a Result from the enclosing function.
#define ZEFA_CHECK(expr)                                                    \
  do {                                                                      \
    auto zefa_check_r_ = (expr);                                            \
    if (!zefa_check_r_.ok()) return ::zefa::failure_of(std::move(zefa_check_r_)); \
  } while (0)
