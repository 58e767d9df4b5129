// Request dispatch: matches the request's "op" against the operation tables
// and runs the operation.
#pragma once

#include <string_view>

#include "error.hpp"
#include "json.hpp"

namespace zefa::api {

enum class Table { Plain, Ruled, Live };

struct Op {
  Table table;
  int code;  // position in its table
};

// The operation named by an "op" value: a name string, or a one-member object
// whose key is the name and whose value is null. False when no table takes it.
bool match_op(const json::Value& op, Op& out) noexcept;

// Runs the operation the request names and returns its result.
Result<json::Value> request(const json::Value& req);

// Request members: a missing member (or any member of a non-object request)
// reads as null; a text member is a string's text, else empty.
const json::Value& member(const json::Value& req, std::string_view name) noexcept;
std::string_view text_member(const json::Value& req, std::string_view name) noexcept;

}  // namespace zefa::api
