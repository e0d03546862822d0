#pragma once
// The log of the Linux programs: journald, with the fields of the macOS log. A copy goes to
// standard error when the program does not run under the journal (started by hand, in tests).
#include <systemd/sd-journal.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace wexla::sd {

struct JournalSource {
  const char* identifier;  // SYSLOG_IDENTIFIER, what `journalctl -t` selects
  const char* subsystem;
  const char* category;
};

inline void writeJournal(const JournalSource& source, int priority, const std::string& message) {
  sd_journal_send("MESSAGE=%s", message.c_str(), "PRIORITY=%i", priority, "SYSLOG_IDENTIFIER=%s",
                  source.identifier, "WEXLA_SUBSYSTEM=%s", source.subsystem, "WEXLA_CATEGORY=%s",
                  source.category, nullptr);
  static const bool echo = std::getenv("JOURNAL_STREAM") == nullptr;
  if (echo) {
    std::fprintf(stderr, "<%d>%s\n", priority, message.c_str());
    std::fflush(stderr);
  }
}

}  // namespace wexla::sd
