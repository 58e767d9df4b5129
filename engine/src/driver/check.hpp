// The command check: whether a property can take a host command's value now,
// and in which form the write must carry it.
#pragma once

#include <string>
#include <string_view>

#include "error.hpp"
#include "json.hpp"
#include "protocol.hpp"

namespace zefa::driver::check {

// Why a command is refused: the code for the host and a reason text.
struct Refusal {
  protocol::RejectCode code{};
  std::string reason;
  friend bool operator==(const Refusal&, const Refusal&) = default;
};

// Judges the command `prop` = `value` against the property definition in
// descriptor["props"] and against the values last published to the host
// (`values`, property name -> value). Runs, in order: existence,
// writability, the "requires" precondition, then the rules of the
// property's "type". Returns the value the write must use (null for a
// trigger, a boolean for a binary, the value unchanged otherwise) or the
// refusal. Refusals are values: malformed definitions never fail the check.
// Reads its arguments only; pure and thread-safe.
Result<json::Value, Refusal> check(const json::Value& descriptor, const json::Value& values, std::string_view prop,
                                   const json::Value& value);

// A number in plain decimal notation: the shortest digits that read back
// as the same double, never an exponent, integral values without a
// fractional part (5.0 gives "5", 1e20 gives "100000000000000000000").
// Non-finite values give "inf", "-inf" or "nan".
std::string plain_number(double d);

}  // namespace zefa::driver::check
