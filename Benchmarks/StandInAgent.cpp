// A stand-in for an agent that keeps rewriting its settings file: every half millisecond it reads
// the file, bumps its own counter member and writes the file back whole through a temporary file
// and a rename, keeping every other member. Before each write it checks that its previous write
// is still there; a counter found lower than the one it wrote means that another program replaced
// the file with a document read before those writes, and each write in between counts as lost.
// On SIGTERM or SIGINT it prints "WRITES LOST" and exits.
//   standin_agent FILE
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int) { stopRequested = 1; }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: standin_agent FILE\n");
    return 2;
  }
  std::signal(SIGTERM, requestStop);
  std::signal(SIGINT, requestStop);
  const std::string file = argv[1];
  const std::string temporary = file + ".agent-tmp";
  long long counter = 0;  // the value of our last write
  long long writes = 0;
  long long lost = 0;
  while (stopRequested == 0) {
    std::ifstream in(file, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    auto settings = nlohmann::ordered_json::parse(text, nullptr, false);
    if (!settings.is_object()) settings = nlohmann::ordered_json::object();
    const long long found = settings.value("agent", 0LL);
    if (found < counter) lost += counter - found;
    settings["agent"] = ++counter;
    std::ofstream(temporary, std::ios::binary | std::ios::trunc) << settings.dump(2);
    if (std::rename(temporary.c_str(), file.c_str()) == 0) ++writes;
    ::usleep(500);
  }
  std::printf("%lld %lld\n", writes, lost);
  return 0;
}
