// Stands in for polkit on a test's private system bus: owns org.freedesktop.PolicyKit1 and
// answers CheckAuthorization as the test chose, recording what it was asked.
//
//   wexla_fake_polkit --record FILE --answer authorized|denied|challenge|malformed
//                     [--slow-for NAME]
//
// With --slow-for, questions about NAME are answered after 10 s, the others at once meanwhile.
// The record holds one line per call: subject kind, subject name, action, number of details,
// flags, cancellation id, separated by blanks. "ready" on standard output: the name is owned.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "SdBus.hpp"
#include "StandInBus.hpp"

namespace {

struct Options {
  std::string record;
  std::string answer = "authorized";
  std::string slowFor;
};

sd_event* event = nullptr;

int readSubject(sd_bus_message* m, std::string& kind, std::string& name) {
  const char* text = nullptr;
  int r = sd_bus_message_enter_container(m, 'r', "sa{sv}");
  if (r >= 0) r = sd_bus_message_read(m, "s", &text);
  if (r < 0) return r;
  kind = text;
  r = sd_bus_message_enter_container(m, 'a', "{sv}");
  while (r >= 0 && (r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
    const char* key = nullptr;
    sd_bus_message_read(m, "s", &key);
    if (std::strcmp(key, "name") == 0) {
      sd_bus_message_read(m, "v", "s", &text);
      name = text;
    } else {
      sd_bus_message_skip(m, "v");
    }
    sd_bus_message_exit_container(m);
  }
  if (r < 0) return r;
  sd_bus_message_exit_container(m);
  return sd_bus_message_exit_container(m);
}

int answer(sd_bus_message* m, const Options& options) {
  if (options.answer == "malformed") return sd_bus_reply_method_return(m, "s", "yes");
  const bool authorized = options.answer == "authorized";
  const bool challenge = options.answer == "challenge";
  return sd_bus_reply_method_return(m, "(bba{ss})", authorized, challenge, 0);
}

struct Held {
  wexla::sd::Message call;
  const Options* options;
};

int onLater(sd_event_source*, std::uint64_t, void* userdata) {
  const std::unique_ptr<Held> held(static_cast<Held*>(userdata));
  return answer(held->call.get(), *held->options);
}

int onCheck(sd_bus_message* m, void* userdata, sd_bus_error*) {
  const auto& options = *static_cast<const Options*>(userdata);
  std::string kind;
  std::string name;
  const char* action = nullptr;
  const char* cancellation = nullptr;
  std::uint32_t flags = 0;
  int details = 0;
  int r = readSubject(m, kind, name);
  if (r >= 0) r = sd_bus_message_read(m, "s", &action);
  if (r >= 0) r = sd_bus_message_enter_container(m, 'a', "{ss}");
  while (r >= 0 && (r = sd_bus_message_skip(m, "{ss}")) > 0) ++details;
  if (r >= 0) r = sd_bus_message_exit_container(m);
  if (r >= 0) r = sd_bus_message_read(m, "us", &flags, &cancellation);
  if (r < 0) return r;
  std::ofstream(options.record, std::ios::app)
      << kind << ' ' << name << ' ' << action << ' ' << details << ' ' << flags << " '"
      << cancellation << "'\n";

  if (name == options.slowFor) {
    auto* held = new Held{wexla::sd::Message(sd_bus_message_ref(m)), &options};
    r = sd_event_add_time_relative(event, nullptr, CLOCK_MONOTONIC, 10'000'000, 1, onLater, held);
    return r < 0 ? r : 1;  // answered later
  }
  return answer(m, options);
}

const sd_bus_vtable kVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("CheckAuthorization", "(sa{sv})sa{ss}us", "(bba{ss})", onCheck,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END,
};

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    if (flag == "--record") options.record = argv[i + 1];
    if (flag == "--answer") options.answer = argv[i + 1];
    if (flag == "--slow-for") options.slowFor = argv[i + 1];
  }
  sd_bus* bus = nullptr;
  if (sd_event_default(&event) < 0 || sd_bus_open_system(&bus) < 0 ||
      sd_bus_attach_event(bus, event, 0) < 0 ||
      sd_bus_add_object_vtable(bus, nullptr, "/org/freedesktop/PolicyKit1/Authority",
                               "org.freedesktop.PolicyKit1.Authority", kVtable, &options) < 0 ||
      !wexla::test::ownBusName(bus, "org.freedesktop.PolicyKit1")) {
    std::fprintf(stderr, "wexla_fake_polkit: cannot serve on the system bus\n");
    return 1;
  }
  return wexla::test::serveForever(event);
}
