// Operations on a live driver named by "handle"; the driver is looked up
// before the handler runs.
#include "api/ops.hpp"

namespace zefa::api::ops {

Result<json::Value> close(const Call& c) {
  // The driver's own lock is never taken, so a driver whose lock is broken
  // can still be closed.
  c.driver->driver.reset();
  ZEFA_TRY(auto reg, drivers());
  return json::Value(reg->handles.erase(c.driver->handle) == 1);
}

}  // namespace zefa::api::ops
