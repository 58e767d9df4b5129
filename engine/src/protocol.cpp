#include "protocol.hpp"

namespace zefa::protocol {

std::optional<DpKind> DpKind::parse(std::string_view word) noexcept {
  static constexpr struct {
    std::string_view word;
    DpKind::Tag kind;
  } kWords[] = {
      {"Integer", Integer}, {"value", Integer}, {"Boolean", Boolean}, {"bool", Boolean}, {"Enum", Enum},
      {"enum", Enum},       {"Bitmap", Bitmap}, {"bitmap", Bitmap},   {"Json", Json},    {"json", Json},
      {"Raw", Raw},         {"raw", Raw},       {"String", String},   {"string", String},
  };
  for (const auto& w : kWords)
    if (w.word == word) return DpKind(w.kind);
  return std::nullopt;
}

}  // namespace zefa::protocol
