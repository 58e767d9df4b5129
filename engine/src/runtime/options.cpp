#include "runtime/options.hpp"

namespace zefa::runtime {

HostEnv HostEnv::make_default() { return record::defaults<HostEnv>(); }

Result<HostEnv, std::string> HostEnv::deserialize(const json::Value& v) { return record::read<HostEnv>(v); }

json::Value HostEnv::serialize() const { return record::write(*this); }

DriverOptions DriverOptions::make_default() { return record::defaults<DriverOptions>(); }

Result<DriverOptions, std::string> DriverOptions::deserialize(const json::Value& v) {
  return record::read<DriverOptions>(v);
}

}  // namespace zefa::runtime
