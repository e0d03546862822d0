#include <fcntl.h>

#include <cstdio>

#include "../SettingsStore.hpp"

namespace wexla::cli {

bool exchangeFiles(const char* first, const char* second) {
  return ::renameat2(AT_FDCWD, first, AT_FDCWD, second, RENAME_EXCHANGE) == 0;
}

bool renameWithoutReplacing(const char* from, const char* to) {
  return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0;
}

}  // namespace wexla::cli
