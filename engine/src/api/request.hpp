// Request dispatch: the operation named by the request's "op" runs through
// its row of the operation table (api/ops.hpp).
#pragma once

#include "error.hpp"
#include "json.hpp"

namespace zefa::api {

// Runs the operation the request names and returns its result; a name no
// row has fails with "unknown engine operation". `depth` is the request's
// nesting depth when its parse told it: a request shallow enough as a whole
// spares measuring the members its reply carries.
Result<json::Value> request(const json::Value& req, int depth = json::kMaxDepth);

}  // namespace zefa::api
