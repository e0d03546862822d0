#include "../Subprocess.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

namespace wexla::kit {

// There is no pipe2: between pipe() and fcntl() another thread's spawn could copy the ends, which
// POSIX_SPAWN_CLOEXEC_DEFAULT keeps out of that child.
bool SubprocessPlatform::openPipe(int (&fds)[2]) {
  if (::pipe(fds) != 0) return false;
  for (const int fd : fds) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  return true;
}

// Closes every descriptor in the child but those the file actions set up (0, 1 and 2).
short SubprocessPlatform::closeOthersFlags() {
  return static_cast<short>(POSIX_SPAWN_CLOEXEC_DEFAULT);
}

}  // namespace wexla::kit
