#include "HelperDaemon.hpp"
#include "Platform.hpp"

int main() {
  const auto platform = wexla::helper::makePlatform();
  return wexla::helper::runDaemon(*platform);
}
