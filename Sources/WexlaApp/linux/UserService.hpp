#pragma once

namespace wexla::app {

// Runs the application until SIGTERM or SIGINT (status 0) or a failure (status 1); `--help` and
// `--version` answer and return.
int runUserService(int argc, char** argv);

}  // namespace wexla::app
