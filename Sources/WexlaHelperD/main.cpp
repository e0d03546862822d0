#include "HelperDaemon.hpp"
#include "Platform.hpp"

int main(int argc, char** argv) {
  if (const auto status = wexla::helper::answerOptions(argc, argv)) return *status;
  const auto platform = wexla::helper::makePlatform();
  return wexla::helper::runDaemon(*platform);
}
