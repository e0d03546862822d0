#include "../Subprocess.hpp"

#include <fcntl.h>
#include <unistd.h>

namespace wexla::kit {

bool SubprocessPlatform::openPipe(int (&fds)[2]) { return ::pipe2(fds, O_CLOEXEC) == 0; }

// glibc has no flag for it: every descriptor the helper opens is close-on-exec.
short SubprocessPlatform::closeOthersFlags() { return 0; }

}  // namespace wexla::kit
