#pragma once

#include <filesystem>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace wexla::cli {

// Keeps the user's member order when a settings file is written back.
using Json = nlohmann::ordered_json;

// A failure of ours with a message for the user: a file we refuse to read or change.
class SettingsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Where the agents' settings live and which executable their hooks run.
struct HookEnvironment {
  std::filesystem::path home;
  std::string executable;

  // "HOME" when set and not empty, else the user's entry in the password database; the running
  // executable's absolute path, else `programName`, else "wexlactl".
  static HookEnvironment current(const char* programName);
};

// The absolute path of the running executable; empty when the platform cannot tell.
std::string executablePath();

// Swaps the files at two paths in one step. False, with errno set, when either is missing
// (ENOENT) or when the file system cannot swap (EINVAL, ENOTSUP, EOPNOTSUPP or ENOSYS).
bool exchangeFiles(const char* first, const char* second);

// Renames `from` to `to` unless `to` exists (EEXIST); errno as above when the file system cannot.
bool renameWithoutReplacing(const char* from, const char* to);

// The executable path as a POSIX shell reads it back: unchanged when it holds only characters
// that no shell treats specially, else in single quotes.
std::string shellQuoted(std::string_view path);

// The command that the agents run: the tool, then " busy".
std::string hookCommand(std::string_view executable);

// The file's bytes, nothing when there is no file; at most `limit` + 1 of them.
std::optional<std::string> readIfPresent(
    const std::filesystem::path& path, std::size_t limit = std::numeric_limits<std::size_t>::max());

// The settings document in `bytes`, read from `path`. Anything we could not write back exactly
// (malformed JSON, comments, a scalar top level, integers beyond 64 bits, absurd nesting) is
// refused; `notAnObject`, when given, throws the agent's own error for a top level that is an
// array.
Json parseSettings(const std::string& bytes, const std::filesystem::path& path,
                   void (*notAnObject)() = nullptr);

// Puts `text` at `path` (at the file it links to) atomically, keeping the permission bits, once
// `backup` (when named) holds the file as it was. Returns false, writing nothing, when the file
// no longer holds `expected` (nothing: no file).
bool replaceFile(const std::filesystem::path& path, std::string_view text,
                 const std::optional<std::string>& expected, const std::string& backup = {});

// One agent's settings file, read and written whole.
class SettingsStore {
 public:
  // `notAnObject` throws the agent's own error for a file whose top level is an array; none: a
  // message naming the file.
  SettingsStore(std::filesystem::path path, void (*notAnObject)());

  const std::filesystem::path& path() const { return path_; }
  std::string backupPath() const { return path_.string() + ".wexla-backup"; }

  struct Loaded {
    Json document = Json::object();
    std::optional<std::string> bytes;  // nothing when there was no file
  };

  // A missing or zero-byte file is an empty document; any other goes through parseSettings.
  Loaded load() const;

  // Makes the one-time backup and replaces the file atomically, keeping its permission bits.
  // Returns false, leaving the file as another program last wrote it, when the file no longer
  // holds `basis.bytes`.
  bool save(const Json& document, const Loaded& basis) const;

  // load, `change`, save; starts over when another program wrote the file meanwhile.
  // `change` returns whether the document is to be written.
  template <typename Change>
  void edit(Change change) const {
    for (int attempt = 0; attempt < kEditAttempts; ++attempt) {
      Loaded loaded = load();
      if (!change(loaded.document)) return;
      if (save(loaded.document, loaded)) return;
    }
    throw SettingsError(path_.string() +
                        " kept changing while Wexla was editing it; nothing was written. Try "
                        "again when the agent is idle.");
  }

 private:
  static constexpr int kEditAttempts = 5;

  std::filesystem::path path_;
  void (*notAnObject_)();
};

}  // namespace wexla::cli
