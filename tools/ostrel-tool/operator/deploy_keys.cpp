// Reads the statistics values of a deployment file.
#include "operator/deploy_keys.h"

#include "service/deploy_file.h"

namespace tool {

bool read_stats_keys(const std::string& deploy_file, service::stats_keys& keys, std::string& error) {
  service::deploy_values values;
  if (!service::read_deploy_file(deploy_file, values, error)) return false;
  if (!service::stats_keys_from(values, keys, error)) {
    error = deploy_file + ": " + error;
    return false;
  }
  return true;
}

}  // namespace tool
