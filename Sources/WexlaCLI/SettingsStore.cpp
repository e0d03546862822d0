#include "SettingsStore.hpp"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <limits>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

#include "FileDescriptor.hpp"
#include "Utf8.hpp"

namespace wexla::cli {

namespace {

namespace fs = std::filesystem;

// Real settings are a few levels deep; far deeper nesting would only exhaust the stack when the
// document is copied or written back.
constexpr int kMaxNesting = 1000;
constexpr int kMaxLinkHops = 40;

[[noreturn]] void throwErrno(const std::string& what, const fs::path& path) {
  throw fs::filesystem_error(what, path, std::error_code(errno, std::generic_category()));
}

using base::FileDescriptor;

std::string readAll(int fd, const fs::path& path,
                    std::size_t limit = std::numeric_limits<std::size_t>::max()) {
  std::string bytes;
  char buffer[65536];
  while (bytes.size() <= limit) {
    const std::size_t wanted = std::min(sizeof buffer - 1, limit - bytes.size()) + 1;
    const ssize_t n = ::read(fd, buffer, wanted);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throwErrno("cannot read the settings file", path);
    if (n == 0) return bytes;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  return bytes;
}

// Line and column (in characters) of the byte at `offset`, counted from 1.
std::string lineAndColumn(std::string_view bytes, std::size_t offset) {
  offset = std::min(offset, bytes.size());
  std::size_t line = 1;
  std::size_t lineStart = 0;
  for (std::size_t i = 0; i < offset; ++i) {
    if (bytes[i] == '\n') {
      ++line;
      lineStart = i + 1;
    }
  }
  std::size_t column = 1;
  for (std::size_t pos = lineStart; pos < offset; ++column) {
    bool valid = false;
    decodeUtf8(bytes, pos, valid);
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

// Builds the document from the reader's events. Members are appended as they come: looking each
// up in an order-keeping object would make large files quadratic. Duplicate members are merged
// afterwards as JavaScript readers do (first place, last value).
class Reader {
 public:
  explicit Reader(Json& root) : root_(root) {}

  bool null() { return put(nullptr) != nullptr; }
  bool boolean(bool value) { return put(value) != nullptr; }
  bool number_integer(Json::number_integer_t value) { return put(value) != nullptr; }
  bool number_unsigned(Json::number_unsigned_t value) { return put(value) != nullptr; }
  bool number_float(Json::number_float_t value, const std::string& text) {
    if (text.find_first_of(".eE") == std::string::npos) {
      problem = "it holds the integer " + text +
                ", which is too large to be kept exactly; refusing to round it";
      return false;
    }
    return put(value) != nullptr;
  }
  bool string(std::string& value) { return put(std::move(value)) != nullptr; }
  bool binary(Json::binary_t&) { return false; }  // JSON text has none

  bool start_object(std::size_t) { return open(Json::object()); }
  bool start_array(std::size_t) { return open(Json::array()); }
  bool key(std::string& name) {
    auto& members = stack_.back()->get_ref<Json::object_t&>();
    members.Container::emplace_back(std::move(name), nullptr);
    member_ = &members.back().second;
    return true;
  }
  bool end_object() {
    mergeDuplicates(*stack_.back());
    stack_.pop_back();
    return true;
  }
  bool end_array() {
    stack_.pop_back();
    return true;
  }

  template <class Exception>
  bool parse_error(std::size_t position, const std::string&, const Exception& error) {
    errorOffset = position == 0 ? 0 : position - 1;
    // The library's text reads "[json.exception.kind.n] parse error at line L, column C: reason";
    // the user gets the reason, with a position of ours.
    std::string text = error.what();
    if (text.starts_with("[json.exception.")) text.erase(0, text.find("] ") + 2);
    if (text.starts_with("parse error")) text.erase(0, text.find(": ") + 2);
    reason = text;
    return false;
  }

  std::string problem;
  std::string reason;
  std::size_t errorOffset = 0;

 private:
  Json* put(Json&& value) {
    if (stack_.empty()) {
      root_ = std::move(value);
      return &root_;
    }
    Json& container = *stack_.back();
    if (container.is_array()) {
      auto& elements = container.get_ref<Json::array_t&>();
      elements.push_back(std::move(value));
      return &elements.back();
    }
    *member_ = std::move(value);
    return member_;
  }

  bool open(Json&& container) {
    if (stack_.size() >= kMaxNesting) {
      problem = "it is nested more than " + std::to_string(kMaxNesting) + " levels deep";
      return false;
    }
    stack_.push_back(put(std::move(container)));
    return true;
  }

  static void mergeDuplicates(Json& object) {
    const auto& members = object.get_ref<const Json::object_t&>();
    if (members.size() < 2) return;
    std::vector<std::string_view> names;
    names.reserve(members.size());
    for (const auto& member : members) names.emplace_back(member.first);
    std::sort(names.begin(), names.end());
    if (std::adjacent_find(names.begin(), names.end()) == names.end()) return;
    Json merged = Json::object();
    for (auto& [name, value] : object.items()) merged[name] = std::move(value);
    object = std::move(merged);
  }

  Json& root_;
  std::vector<Json*> stack_;
  Json* member_ = nullptr;
};

// The file that a link at `path` stands for, so the link itself survives the rewrite.
fs::path resolveLinks(fs::path path) {
  for (int hop = 0; hop < kMaxLinkHops && fs::is_symlink(path); ++hop) {
    const fs::path target = fs::read_symlink(path);
    path = target.is_absolute() ? target : path.parent_path() / target;
  }
  return path;
}

mode_t newFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

void writeAll(int fd, std::string_view bytes, const fs::path& path) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) throwErrno("cannot write", path);
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
}

// Which file an open descriptor stands for, whatever path leads to it now.
struct FileId {
  dev_t device;
  ino_t inode;
  bool operator==(const FileId&) const = default;
};

FileId idOf(const FileDescriptor& fd, const fs::path& path) {
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) throwErrno("cannot examine", path);
  return {info.st_dev, info.st_ino};
}

// The rename itself must reach the disk, or a crash can bring back the old file.
void syncDirectory(const fs::path& file) {
  const FileDescriptor dir(::open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
}

bool cannotSwap(int error) {
  return error == EINVAL || error == ENOTSUP || error == EOPNOTSUPP || error == ENOSYS;
}

// A temporary file beside the target, removed unless it was put in the target's place.
class TemporaryFile {
 public:
  explicit TemporaryFile(const fs::path& target) {
    std::string pattern =
        (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
    fd_ = FileDescriptor(::mkstemp(pattern.data()));
    if (fd_.get() < 0) throwErrno("cannot create a temporary file beside", target);
    path_ = pattern;
  }
  ~TemporaryFile() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  // The file stays open: its inode number tells it from any other file that comes out of a swap.
  void write(std::string_view bytes, const struct stat* original) {
    writeAll(fd_.get(), bytes, path_);
    if (original != nullptr) {
      // Keep the owner too when we may (a file edited with sudo stays the user's).
      if (::fchown(fd_.get(), original->st_uid, original->st_gid) != 0) {
        // Not being allowed to give the file away is normal; the bits below still apply.
      }
    }
    const mode_t mode = original != nullptr ? (original->st_mode & 07777) : newFileMode();
    if (::fchmod(fd_.get(), mode) != 0) throwErrno("cannot set the permissions of", path_);
    if (::fsync(fd_.get()) != 0) throwErrno("cannot flush", path_);
  }

  // Puts this file at `target` if `target` still holds `expected` (nothing: no file there).
  // Returns false when another program wrote `target` since it was read; its write stays.
  bool replace(const fs::path& target, const std::optional<std::string>& expected) {
    // Most concurrent writes show here, before anything has moved.
    std::optional<FileDescriptor> checked;
    if (expected) {
      checked.emplace(::open(target.c_str(), O_RDONLY | O_CLOEXEC));
      if (checked->get() < 0 && errno == ENOENT) return false;
      if (checked->get() < 0) throwErrno("cannot read the settings file", target);
      if (readAll(checked->get(), target) != *expected) return false;
    } else if (readIfPresent(target)) {
      return false;
    }
    const bool moved = expected ? exchangeFiles(path_.c_str(), target.c_str())
                                : renameWithoutReplacing(path_.c_str(), target.c_str());
    if (!moved) {
      if (errno == ENOENT || errno == EEXIST) return false;  // the file went away, or came
      if (!cannotSwap(errno)) throwErrno("cannot replace", target);
      // This file system can only rename over the file: a write that lands between the check
      // above and the rename is lost.
      if (::rename(path_.c_str(), target.c_str()) != 0) throwErrno("cannot replace", target);
    } else if (checked) {
      // The swap left the file that was at `target` under our temporary name: it must be the
      // file just checked, unchanged, or a write landed in between.
      FileDescriptor swappedOut(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
      if (swappedOut.get() < 0) throwErrno("cannot read", path_);
      if (idOf(swappedOut, path_) != idOf(*checked, target) ||
          readAll(swappedOut.get(), path_) != *expected) {
        giveBack(target, std::move(swappedOut));
        return false;
      }
      ::unlink(path_.c_str());
    }
    path_.clear();
    syncDirectory(target);
    return true;
  }

 private:
  static constexpr int kGiveBackRounds = 100;

  // Puts the file that the swap took out back at `target`. What comes out must be ours; anything
  // else is a still newer write that replaced ours meanwhile, and it goes back in its turn.
  void giveBack(const fs::path& target, FileDescriptor theirs) {
    FileId goingIn = idOf(theirs, path_);
    FileId comingOut = idOf(fd_, path_);
    std::vector<FileDescriptor> held;  // open files keep their inode numbers from being reused
    held.push_back(std::move(theirs));
    for (int round = 0; round < kGiveBackRounds; ++round) {
      if (!exchangeFiles(path_.c_str(), target.c_str())) break;
      FileDescriptor out(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
      if (out.get() < 0) break;
      const FileId id = idOf(out, path_);
      if (id == comingOut) {
        syncDirectory(target);
        return;  // our file is removed with the temporary name
      }
      comingOut = goingIn;
      goingIn = id;
      held.push_back(std::move(out));
    }
    const std::string kept = path_.string();
    path_.clear();  // never remove a version that another program wrote
    throw SettingsError(target.string() +
                        " changed while Wexla was replacing it, and its latest version could not "
                        "be put back: it is kept at " +
                        kept + ".");
  }

  FileDescriptor fd_{-1};
  fs::path path_;
};

// The one-time backup: never replaces a file, and failing to make it never stops the edit.
void writeBackup(const std::string& path, std::string_view bytes, mode_t mode) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return;
  bool ok = true;
  try {
    writeAll(fd, bytes, path);
  } catch (const fs::filesystem_error&) {
    ok = false;
  }
  ok = ok && ::fchmod(fd, mode & 07777) == 0;
  ::close(fd);
  if (!ok) ::unlink(path.c_str());
}

std::string homeDirectory() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  // An empty HOME must never mean the current directory.
  if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr) {
    return entry->pw_dir;
  }
  throw SettingsError("cannot find your home directory: HOME is not set and the user has none");
}

}  // namespace

std::optional<std::string> readIfPresent(const fs::path& path, std::size_t limit) {
  const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
    throwErrno("cannot read the settings file", path);
  }
  return readAll(fd.get(), path, limit);
}

HookEnvironment HookEnvironment::current(const char* programName) {
  std::string executable = executablePath();
  if (executable.empty() && programName != nullptr) executable = programName;
  if (executable.empty()) executable = "wexlactl";
  return {homeDirectory(), executable};
}

std::string shellQuoted(std::string_view path) {
  constexpr std::string_view kSafe =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_@%+=:,./-";
  if (!path.empty() && path.find_first_not_of(kSafe) == std::string_view::npos) {
    return std::string(path);
  }
  std::string quoted = "'";
  for (const char c : path) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

std::string hookCommand(std::string_view executable) { return shellQuoted(executable) + " busy"; }

SettingsStore::SettingsStore(fs::path path, void (*notAnObject)())
    : path_(std::move(path)), notAnObject_(notAnObject) {}

Json parseSettings(const std::string& bytes, const fs::path& path, void (*notAnObject)()) {
  // The JSON library stops reading at a NUL byte; whatever followed would be lost on rewrite.
  if (const std::size_t nul = bytes.find('\0'); nul != std::string::npos) {
    throw SettingsError(path.string() + " is not valid JSON (" + lineAndColumn(bytes, nul) +
                        ": a NUL byte). Nothing was changed.");
  }
  Json document;
  Reader reader(document);
  const bool parsed = Json::sax_parse(bytes, &reader);
  if (!reader.problem.empty()) {
    throw SettingsError(path.string() + " cannot be edited safely: " + reader.problem +
                        ". Nothing was changed.");
  }
  if (!parsed) {
    // Outside a string a slash can only open a comment, which the agent may allow but JSON
    // cannot keep.
    if (bytes.compare(reader.errorOffset, 2, "//") == 0 ||
        bytes.compare(reader.errorOffset, 2, "/*") == 0) {
      throw SettingsError(path.string() + " holds a comment (" +
                          lineAndColumn(bytes, reader.errorOffset) +
                          "), which would be lost when the file is written back \u2014 refusing "
                          "to modify it. Remove the comments first, or add the hook by hand.");
    }
    throw SettingsError(path.string() + " is not valid JSON (" +
                        lineAndColumn(bytes, reader.errorOffset) + ": " + reader.reason +
                        "). Nothing was changed.");
  }
  if (document.is_array()) {
    if (notAnObject != nullptr) notAnObject();
    throw SettingsError(
        path.string() +
        " is not a JSON object \u2014 refusing to modify it. Fix it by hand first.");
  }
  if (!document.is_object()) {
    const std::size_t start = bytes.find_first_not_of(" \t\r\n\xEF\xBB\xBF");
    throw SettingsError(path.string() + " is not valid JSON (" + lineAndColumn(bytes, start) +
                        ": the top level is a " + document.type_name() +
                        ", not an object). Nothing was changed.");
  }
  return document;
}

bool replaceFile(const fs::path& path, std::string_view text,
                 const std::optional<std::string>& expected, const std::string& backup) {
  const fs::path target = resolveLinks(path);
  fs::create_directories(path.parent_path());
  fs::create_directories(target.parent_path());

  struct stat original {};
  const bool existed = ::stat(target.c_str(), &original) == 0;
  if (existed && expected && !backup.empty() && !fs::exists(backup)) {
    writeBackup(backup, *expected, original.st_mode);
  }
  TemporaryFile temporary(target);
  temporary.write(text, existed ? &original : nullptr);
  // An agent may have rewritten its file since we read it: its change must not be lost.
  return temporary.replace(target, expected);
}

SettingsStore::Loaded SettingsStore::load() const {
  Loaded loaded;
  loaded.bytes = readIfPresent(path_);
  if (loaded.bytes && !loaded.bytes->empty()) {
    loaded.document = parseSettings(*loaded.bytes, path_, notAnObject_);
  }
  return loaded;
}

bool SettingsStore::save(const Json& document, const Loaded& basis) const {
  return replaceFile(path_, document.dump(2, ' ', false, Json::error_handler_t::strict),
                     basis.bytes, backupPath());
}

}  // namespace wexla::cli
