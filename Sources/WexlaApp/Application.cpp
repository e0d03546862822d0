#include "Application.hpp"

#include "StatusText.hpp"

namespace wexla::app {

Application::Application(Settings settings, HelperConnection& helper, ProcessWatch& processes,
                         WakeTimer& timer, ApplicationListener& listener)
    : settings_(settings),
      processes_(processes),
      timer_(timer),
      listener_(listener),
      link_(helper, [this](Instant) { report(); }) {}

std::optional<std::string> Application::handle(std::string_view text, const Now& now) {
  const Command command = parseCommand(text);
  std::optional<std::string> reply;
  using Kind = Command::Kind;
  switch (command.kind) {
    case Kind::on:
      holds_.setManual(true);
      break;
    case Kind::off:
      for (const std::int32_t pid : holds_.clear()) processes_.unwatch(pid);
      break;
    case Kind::extend:
      holds_.extend(*command.minutes, now.boot);
      break;
    case Kind::busy:
      holds_.busy(command.minutes.value_or(settings_.busyMinutes), now.boot);
      break;
    case Kind::whileProcess:
      // Asked even for a number held already: its process may have ended and the number been
      // given to another, which the watch tells apart and this hold then follows.
      if (command.pid && processes_.watch(*command.pid)) {
        holds_.addProcess(*command.pid);
      } else {
        reply = noProcessLine(command.pidText);
      }
      break;
    case Kind::status:
    case Kind::statusJson:
      break;
    case Kind::unknown:
      reply = errorLine(text);
      break;
  }
  settle(now.boot);
  report();
  if (!command.answered) return std::nullopt;
  if (reply) return reply;
  if (command.kind == Kind::statusJson) return statusJson(holds_, link_.state(), now);
  return statusLine(now);
}

void Application::endManualHold(const Now& now) {
  holds_.setManual(false);
  settle(now.boot);
  report();
}

void Application::tick(const Now& now) {
  // A hold that ran out is released, not heartbeated once more.
  settle(now.boot);
  link_.tick(now.boot);
  report();
}

void Application::processEnded(std::int32_t pid, const Now& now) {
  processes_.unwatch(pid);
  holds_.removeProcess(pid);
  settle(now.boot);
  report();
}

void Application::helperLost(const Now& now) {
  link_.lost(now.boot);
  report();
}

void Application::helperBack(const Now& now) {
  link_.returned(now.boot);
  report();
}

void Application::quit() { link_.releaseBeforeExit(); }

std::string Application::statusLine(const Now& now) const {
  return app::statusLine(holds_, link_.state(), now);
}

bool Application::held(const Now& now) const {
  return holds_.any(now.boot) && link_.state() == LinkState::held;
}

void Application::settle(Instant now) {
  holds_.expire(now);
  link_.holdsChanged(holds_.any(now), now);
}

void Application::report() {
  const auto expiry = holds_.nextExpiry();
  const auto linkDue = link_.nextWake();
  if (expiry && linkDue) {
    timer_.wakeAt(std::min(*expiry, *linkDue));
  } else {
    timer_.wakeAt(expiry ? expiry : linkDue);
  }
  if (reported_ != link_.state()) {
    reported_ = link_.state();
    listener_.linkChanged(link_.state());
  }
  listener_.statusChanged();
}

}  // namespace wexla::app
