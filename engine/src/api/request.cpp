#include "api/request.hpp"

#include <array>

#include "api/ops.hpp"
#include "testing.hpp"

namespace zefa::api {

namespace {

constexpr std::array<std::string_view, 10> kPlain = {
    "merge_rules", "install_rules", "remove_rules", "carry",         "settings",
    "merge",       "status_quirk",  "check",        "adapter_write", "strategy_write",
};
constexpr std::array<std::string_view, 13> kRuled = {
    "create", "handle",         "on_update",    "unused",        "quirk_schema", "device_info", "classify",
    "read",   "write",          "adapter_create", "adapter_read", "strategy_read", "open",
};
constexpr std::array<std::string_view, 5> kLive = {"drive", "view", "snapshot", "carry_handle", "close"};

template <size_t N>
int find_name(const std::array<std::string_view, N>& names, std::string_view s) noexcept {
  for (size_t i = 0; i < N; ++i)
    if (names[i] == s) return static_cast<int>(i);
  return -1;
}

}  // namespace

bool match_op(const json::Value& op, Op& out) noexcept {
  std::string_view name;
  if (op.is_string()) {
    name = op.str();
  } else if (op.is_object() && op.size() == 1 && op.obj().at(0).value.is_null()) {
    name = op.obj().at(0).name();
  } else {
    return false;
  }
  if (int i = find_name(kPlain, name); i >= 0) {
    out = {Table::Plain, i};
    return true;
  }
  if (int i = find_name(kRuled, name); i >= 0) {
    out = {Table::Ruled, i};
    return true;
  }
  if (int i = find_name(kLive, name); i >= 0) {
    out = {Table::Live, i};
    return true;
  }
  return false;
}

const json::Value& member(const json::Value& req, std::string_view name) noexcept { return req[name]; }

std::string_view text_member(const json::Value& req, std::string_view name) noexcept { return req[name].str(); }

std::string_view op_name(Op op) noexcept {
  switch (op.table) {
    case Table::Plain: return kPlain[static_cast<size_t>(op.code)];
    case Table::Ruled: return kRuled[static_cast<size_t>(op.code)];
    default: return kLive[static_cast<size_t>(op.code)];
  }
}

Result<json::Value> request(const json::Value& req) {
  testing::fault_point("api::request");
  Op op;
  if (!match_op(req["op"], op)) return fail(ErrorKind::Engine, "unknown engine operation");
  switch (op.table) {
    case Table::Plain: return plain(req, op);
    case Table::Ruled: return ruled(req, op);
    default: return live(req, op);
  }
}

}  // namespace zefa::api
