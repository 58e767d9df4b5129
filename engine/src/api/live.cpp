// Operations on a live driver named by "handle".
#include "api/ops.hpp"
#include "api/registry.hpp"

namespace zefa::api {

Result<json::Value> live(const json::Value& req, Op op) {
  ZEFA_TRY(Opened found, opened(req, "handle"));
  if (op_name(op) == "close") {
    // The driver's own lock is never taken, so a driver whose lock is
    // broken can still be closed.
    found.driver.reset();
    ZEFA_TRY(auto reg, drivers());
    return json::Value(reg->handles.erase(found.handle) == 1);
  }
  if (op_name(op) == "drive") return drive_driver(req, found);
  if (op_name(op) == "view") return view_driver(found);
  if (op_name(op) == "snapshot") return snapshot_driver(found);
  if (op_name(op) == "carry_handle") return carry_handle(req, found);
  return not_served(op);
}

}  // namespace zefa::api
