// ostrel-service: runs the reference replacement service on loopback.
#include <cstdio>
#include <string>

#include "service/deploy_file.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: ostrel-service <deploy.conf>\n");
    return 2;
  }
  service::deploy_values values;
  std::string error;
  if (!service::read_deploy_file(argv[1], values, error)) {
    std::fprintf(stderr, "ostrel-service: %s\n", error.c_str());
    return 1;
  }
  std::printf("deployment: lookup host %s\n", values.get("lookup_host").c_str());
  return 0;
}
