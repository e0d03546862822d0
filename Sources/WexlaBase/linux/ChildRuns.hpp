#pragma once
// Programs run from an sd-event loop without waiting for them, each owned until it is reaped.
#include <sys/types.h>
#include <systemd/sd-event.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace wexla::base {

// The runs under way of one program or another. A child starts with standard input on /dev/null,
// its output and errors on one pipe, no signal blocked and every handler at its default, whatever
// its parent blocks or ignores for its own loop. It is killed past its time limit, and whatever
// still runs when the set goes is killed and reaped: none outlives its owner.
class ChildRuns {
 public:
  // The exit status (-1 when a signal ended it, or it ran past its limit) and the start of what
  // it printed.
  using Finished = std::function<void(int status, const std::string& output)>;
  static constexpr std::size_t kKeptOutput = 4096;

  ChildRuns(sd_event* event, std::chrono::milliseconds limit);
  ChildRuns(const ChildRuns&) = delete;
  ChildRuns& operator=(const ChildRuns&) = delete;
  ~ChildRuns();

  // Starts `argv` (the first a path); `finished` runs later on the loop, unless the set goes
  // first. False when it cannot start, and then `finished` never runs.
  bool start(const std::vector<std::string>& argv, Finished finished);
  std::size_t size() const { return runs_.size(); }

 private:
  struct Run;
  static int onOutput(sd_event_source*, int, std::uint32_t, void* userdata);
  static int onExited(sd_event_source*, int, std::uint32_t, void* userdata);
  static int onLimit(sd_event_source*, std::uint64_t, void* userdata);

  sd_event* event_;
  std::chrono::milliseconds limit_;
  std::map<pid_t, std::unique_ptr<Run>> runs_;
};

}  // namespace wexla::base
