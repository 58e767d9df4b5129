// The operations of each table (internal to the api module).
#pragma once

#include "api/registry.hpp"
#include "api/request.hpp"

namespace zefa::api {

std::string_view op_name(Op op) noexcept;

// Operations that need nothing but the request.
Result<json::Value> plain(const json::Value& req, Op op);
// Operations that need a rule pack: resolves the pack, then runs.
Result<json::Value> ruled(const json::Value& req, Op op);
// The entity operations ("classify", "unused", "read", "write",
// "on_update") with the request's rule pack.
Result<json::Value> entity_op(const json::Value& req, std::string_view name, const json::Value& pack);
// Operations on a live driver named by "handle".
Result<json::Value> live(const json::Value& req, Op op);

// Driver operations (drivers.cpp). "create" records the pack's fingerprint
// in the new driver; "open" keeps the installed pack, or a pack record of its
// own for an inline one (`installed` null).
Result<json::Value> create_driver(const json::Value& req, const json::Value& pack, const std::string& fingerprint);
Result<json::Value> open_driver(const json::Value& req, const json::Value& pack, PackRef installed);
Result<json::Value> carry_documents(const json::Value& req);
Result<json::Value> settings_of(const json::Value& req);
Result<json::Value> view_driver(const Opened& found);
Result<json::Value> snapshot_driver(const Opened& found);
Result<json::Value> carry_handle(const json::Value& req, const Opened& target);
// Driver inputs (inputs.cpp): "handle" on a state document checked against
// the pack's fingerprint, "drive" on a live driver under its lock.
Result<json::Value> handle_document(const json::Value& req, const json::Value& pack, const std::string& fingerprint);
Result<json::Value> drive_driver(const json::Value& req, const Opened& found);

// An operation whose subsystem is not part of this build yet: recognised,
// answered, never left hanging.
inline Failure<EngineError> not_served(Op op) {
  return fail(ErrorKind::Unsupported, std::string(op_name(op)) + " is not available in this build");
}

}  // namespace zefa::api
