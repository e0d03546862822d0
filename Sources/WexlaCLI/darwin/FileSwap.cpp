#include <stdio.h>

#include "../SettingsStore.hpp"

namespace wexla::cli {

bool exchangeFiles(const char* first, const char* second) {
  return ::renamex_np(first, second, RENAME_SWAP) == 0;
}

bool renameWithoutReplacing(const char* from, const char* to) {
  return ::renamex_np(from, to, RENAME_EXCL) == 0;
}

}  // namespace wexla::cli
