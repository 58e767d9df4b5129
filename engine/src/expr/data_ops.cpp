// Data operators: collections, strings, bytes, colour and electricity.
//
// NOT YET IMPLEMENTED: every entry below points at `pending`, which answers
// like a name outside the vocabulary ("unknown expression op {}") after the
// arguments evaluated. Implementing an operator means writing its function
// here and putting it in its entry; the dispatch needs no other change.
#include <string>

#include "expr/ops.hpp"

namespace zefa::expr::ops {

namespace {

Eval pending(Scope&, const Value& expr, Args) {
  return fail("unknown expression op " + std::string(expr["op"].str()));
}

constexpr FunctionOp kDataOps[] = {
    // collections
    {"list", pending},
    {"concat", pending},
    {"zip", pending},
    {"object", pending},
    {"flatten", pending},
    {"keys", pending},
    {"values", pending},
    {"entries", pending},
    {"without", pending},
    {"lookup", pending},
    {"sort", pending},
    {"len", pending},
    {"contains", pending},
    {"index_of", pending},
    {"range", pending},
    {"codes", pending},
    // strings
    {"text", pending},
    {"to_string", pending},
    {"str_concat", pending},
    {"lower", pending},
    {"capitalize", pending},
    {"trim_start", pending},
    {"trim_end", pending},
    {"starts_with", pending},
    {"ends_with", pending},
    {"replace", pending},
    {"parse_json", pending},
    {"hex", pending},
    // bytes
    {"hex_ints", pending},
    {"b64_utf8", pending},
    {"b64_utf16be", pending},
    // colour
    {"hs_to_rgb_hex", pending},
    {"rgb_hex_to_hs", pending},
    // electricity
    {"electricity_b64", pending},
    {"electricity_hex", pending},
};

}  // namespace

std::span<const FunctionOp> data_ops() noexcept { return kDataOps; }

}  // namespace zefa::expr::ops
