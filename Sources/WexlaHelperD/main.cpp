#include <cstdio>
#include <span>

#include "HelperDaemon.hpp"
#include "HelperOptions.hpp"
#include "Platform.hpp"

int main(int argc, char** argv) {
  const wexla::helper::HelperOptions options = wexla::helper::parseHelperOptions(
      std::span<const char* const>(argv + (argc > 0 ? 1 : 0), argc > 0 ? argc - 1 : 0));
  if (options.exitStatus) {
    std::fputs(options.text.c_str(), *options.exitStatus == 0 ? stdout : stderr);
    return *options.exitStatus;
  }
  const auto platform = wexla::helper::makePlatform();
  return wexla::helper::runDaemon(*platform, options.exitWhenIdle);
}
