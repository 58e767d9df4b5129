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
  return not_served(op);
}

}  // namespace zefa::api
