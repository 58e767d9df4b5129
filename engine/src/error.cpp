#include "error.hpp"

namespace zefa {

std::string EngineError::to_string() const {
  switch (kind) {
    case ErrorKind::Override: return "override: " + message;
    case ErrorKind::Unsupported: return "unsupported: " + message;
    default: return message;
  }
}

}  // namespace zefa
