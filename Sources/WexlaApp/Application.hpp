#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "AppTime.hpp"
#include "Command.hpp"
#include "HelperLink.hpp"
#include "Holds.hpp"
#include "Settings.hpp"

namespace wexla::app {

// Watches processes for `while PID`; the platform calls Application::processEnded when one ends.
// A watch is its process, not its number: the end of a process is never reported for another
// that was given its number.
class ProcessWatch {
 public:
  virtual ~ProcessWatch() = default;
  // True when a live process with this number is watched now: watched already, or watched from
  // now on (then an earlier process with its number is forgotten, its end unreported). False
  // when there is no such process, or only a dead one.
  virtual bool watch(std::int32_t pid) = 0;
  virtual void unwatch(std::int32_t pid) = 0;
};

// The one timer of the application: call Application::tick at that time, or not at all.
class WakeTimer {
 public:
  virtual ~WakeTimer() = default;
  virtual void wakeAt(std::optional<Instant> when) = 0;
};

// What the platform shows or records of the application: the menu follows the status, the log
// records each change of the helper link.
class ApplicationListener {
 public:
  virtual ~ApplicationListener() = default;
  virtual void linkChanged(LinkState) {}
  virtual void statusChanged() {}
};

// The application: its holds, the command texts and their replies, and the helper link. Every
// entry takes the time it happens at; after each, the timer is set to the next thing due.
class Application {
 public:
  Application(Settings settings, HelperConnection& helper, ProcessWatch& processes,
              WakeTimer& timer, ApplicationListener& listener);
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  // The reply to post, or nothing for the heartbeat texts, which are never answered.
  std::optional<std::string> handle(std::string_view text, const Now& now);
  // Unticking "Keep awake" in the menu: the manual hold ends, every other hold stays. No command
  // text says this, so the menu calls it directly.
  void endManualHold(const Now& now);
  void tick(const Now& now);
  void processEnded(std::int32_t pid, const Now& now);
  // The helper went away: it left the bus, or its connection was interrupted.
  void helperLost(const Now& now);
  // The helper is there again: a hold waiting to retry asks at once.
  void helperBack(const Now& now);
  // On the way out (a signal, logging out, Quit): releases the helper, bounded.
  void quit();

  std::string statusLine(const Now& now) const;
  bool held(const Now& now) const;
  LinkState link() const { return link_.state(); }
  const Holds& holds() const { return holds_; }

 private:
  // Ends what ran out and brings the link in line with the holds.
  void settle(Instant now);
  // Sets the timer to the next thing due and tells the listener what changed.
  void report();

  Settings settings_;
  ProcessWatch& processes_;
  WakeTimer& timer_;
  ApplicationListener& listener_;
  Holds holds_;
  HelperLink link_;
  LinkState reported_ = LinkState::idle;
};

}  // namespace wexla::app
