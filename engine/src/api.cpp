#include "api.hpp"

#include "testing.hpp"

namespace zefa::api {

Result<json::Value> request(const json::Value& req) {
  testing::fault_point("api::request");
  (void)req;
  return fail(ErrorKind::Engine, "unknown engine operation");
}

}  // namespace zefa::api
