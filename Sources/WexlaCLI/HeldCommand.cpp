#include "HeldCommand.hpp"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>

#include "AppChannel.hpp"
#include "Utf8.hpp"

extern char** environ;

namespace wexla::cli {

namespace {

constexpr int kStatusNotFound = 127;
constexpr int kStatusCannotRun = 126;
constexpr int kStatusSignalBase = 128;

// Sent to wexlactl alone (by a service manager, a closing terminal): the command gets them too.
constexpr std::array kPassedOn{SIGTERM, SIGHUP};
// The terminal sends these to its whole foreground group, the command included: wexlactl
// outlives them to report how the command ended.
constexpr std::array kFromTheTerminal{SIGINT, SIGQUIT};

volatile sig_atomic_t gCommand = 0;

void passOn(int number) {
  if (gCommand > 0) ::kill(static_cast<pid_t>(gCommand), number);
}

void setDisposition(int number, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(number, &action, nullptr);
}

bool ignored(int number) {
  struct sigaction current {};
  return ::sigaction(number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

// One line whatever the program's name holds.
std::string reasonLine(const std::string& program, int error) {
  std::string name = repairUtf8(program);
  for (char& c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return "wexlactl: kh\u00F4ng ch\u1EA1y \u0111\u01B0\u1EE3c / cannot run \"" + name +
         "\": " + std::strerror(error) + '\n';
}

// Ended, and not reaped yet: the application answers such a process as no process.
bool ended(pid_t process) {
  siginfo_t info{};
  return ::waitid(P_PID, static_cast<id_t>(process), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid != 0;
}

// A warning, or a refusal of this text (no such process while the command still runs, or a word
// the application does not know), is the person's to see. Any other reply is the hold, or the
// reply of another wexlactl asking at the same moment.
bool worthTelling(const std::string& reply, pid_t process) {
  if (reply.find("\u26A0") != std::string::npos) return true;
  const std::string pid = std::to_string(process);
  const bool refused = reply.ends_with("/ no process " + pid) ||
                       reply.find("\"while " + pid + "\"") != std::string::npos;
  return refused && !ended(process);
}

void askToHold(pid_t process, CenterFactory makeCenter) {
  const std::unique_ptr<NotificationCenter> center = makeCenter();
  const std::optional<std::string> reply =
      requestReply(*center, "while " + std::to_string(process));
  if (!reply) {
    writeAll(STDERR_FILENO, noReplyMessage);
  } else if (worthTelling(*reply, process)) {
    writeAll(STDERR_FILENO, *reply + '\n');
  }
}

}  // namespace

Outcome runHeldCommand(const std::vector<std::string>& command, CenterFactory makeCenter) {
  // Inherited ignored, SIGCHLD would let the system reap the command: its status lost, and its
  // number free for another process while the application is asked to watch it.
  setDisposition(SIGCHLD, SIG_DFL);

  // Until the handlers are in place, a signal waits rather than ending wexlactl alone; the
  // command starts with the signal mask and dispositions wexlactl was given.
  sigset_t held;
  sigset_t given;
  sigemptyset(&held);
  for (const int number : kPassedOn) sigaddset(&held, number);
  for (const int number : kFromTheTerminal) sigaddset(&held, number);
  ::sigprocmask(SIG_BLOCK, &held, &given);

  std::vector<char*> argv;
  for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setsigmask(&attributes, &given);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  pid_t process = -1;
  const int error =
      ::posix_spawnp(&process, argv.front(), nullptr, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  if (error != 0) {
    ::sigprocmask(SIG_SETMASK, &given, nullptr);
    return {error == ENOENT ? kStatusNotFound : kStatusCannotRun,
            {},
            reasonLine(command.front(), error)};
  }

  gCommand = process;
  // A signal ignored on purpose (nohup) stays ignored, as it does for the command.
  for (const int number : kPassedOn) {
    if (!ignored(number)) setDisposition(number, &passOn);
  }
  for (const int number : kFromTheTerminal) setDisposition(number, SIG_IGN);
  ::sigprocmask(SIG_SETMASK, &given, nullptr);

  // The command is not reaped before the answer, so its number cannot pass to another process
  // while the application looks at it.
  askToHold(process, makeCenter);

  int status = 0;
  while (::waitpid(process, &status, 0) < 0) {
    if (errno != EINTR) return {kStatusCannotRun, {}, reasonLine(command.front(), errno)};
  }
  if (WIFEXITED(status)) return {WEXITSTATUS(status), {}, {}};
  const int number = WTERMSIG(status);
  if (number == SIGINT) {
    // Ended the same way, so that a shell running wexlactl stops on Ctrl-C as it would for the
    // command; where the signal is blocked, the status below says it.
    setDisposition(number, SIG_DFL);
    ::raise(number);
  }
  return {kStatusSignalBase + number, {}, {}};
}

}  // namespace wexla::cli
