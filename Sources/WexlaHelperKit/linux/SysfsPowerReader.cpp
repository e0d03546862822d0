#include "SysfsPowerReader.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "FileDescriptor.hpp"

namespace wexla::kit {

namespace {

namespace fs = std::filesystem;

// The kernel never prints more than a page into one attribute; anything longer is not sysfs.
constexpr std::size_t kMaxAttributeBytes = 4096;

// The whole text of a regular file, or nothing. Non-blocking so a stray pipe cannot hang the
// watchdog; the type check then turns it (or a directory) away.
std::optional<std::string> readAttribute(const fs::path& path) {
  const base::FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (fd.get() < 0) return std::nullopt;
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  std::string text;
  char buffer[512];
  for (;;) {
    const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;  // e.g. a sensor that answers ENODATA while its device sleeps
    }
    if (got == 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
    if (text.size() > kMaxAttributeBytes) return std::nullopt;
  }
  return text;
}

std::string_view trim(std::string_view text) {
  constexpr std::string_view kSpace = " \t\r\n\v\f";
  const auto first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(kSpace);
  return text.substr(first, last - first + 1);
}

// A one-word attribute. Some drivers print their word twice on two lines; lines that agree
// count as that word, lines that disagree as garbage.
std::optional<std::string> readWord(const fs::path& path) {
  const auto text = readAttribute(path);
  if (!text) return std::nullopt;
  std::optional<std::string_view> word;
  std::string_view rest = *text;
  while (!rest.empty()) {
    const auto end = rest.find('\n');
    const std::string_view line = trim(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
    if (line.empty()) continue;
    if (word && *word != line) return std::nullopt;
    word = line;
  }
  if (!word) return std::nullopt;
  return std::string(*word);
}

std::optional<std::int64_t> parseInteger(std::string_view text) {
  text = trim(text);
  if (text.empty()) return std::nullopt;
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 10);
  if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<std::int64_t> readInteger(const fs::path& path) {
  const auto text = readAttribute(path);
  if (!text) return std::nullopt;
  return parseInteger(*text);
}

// The entries directly under a directory, by name so that results do not depend on the order
// the kernel lists them in.
std::vector<std::pair<std::string, fs::path>> listEntries(const fs::path& directory) {
  std::vector<std::pair<std::string, fs::path>> entries;
  std::error_code error;
  fs::directory_iterator it(directory, fs::directory_options::skip_permission_denied, error);
  for (; !error && it != fs::directory_iterator(); it.increment(error)) {
    entries.emplace_back(it->path().filename().string(), it->path());
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// Mice, styluses and headsets report their own batteries and chargers with scope Device.
bool isPeripheral(const fs::path& supply) { return readWord(supply / "scope") == "Device"; }

struct Quantity {
  std::int64_t now;
  std::int64_t full;
};

struct BatteryReading {
  std::optional<Quantity> energy;
  std::optional<Quantity> charge;
  std::optional<std::int64_t> percent;
};

// A level and its full mark; a level above full is kept, a full mark of zero is no reading.
std::optional<Quantity> readQuantity(const fs::path& supply, const char* nowName,
                                     const char* fullName) {
  const auto now = readInteger(supply / nowName);
  const auto full = readInteger(supply / fullName);
  if (!now || !full || *now < 0 || *full <= 0) return std::nullopt;
  return Quantity{*now, *full};
}

BatteryReading readBattery(const fs::path& supply) {
  BatteryReading reading;
  reading.energy = readQuantity(supply, "energy_now", "energy_full");
  reading.charge = readQuantity(supply, "charge_now", "charge_full");
  const auto percent = readInteger(supply / "capacity");
  if (percent && *percent >= 0) reading.percent = percent;
  return reading;
}

std::optional<Quantity> sumQuantities(const std::vector<BatteryReading>& batteries,
                                      std::optional<Quantity> BatteryReading::*which) {
  Quantity total{0, 0};
  for (const auto& battery : batteries) {
    const auto& part = battery.*which;
    if (!part) return std::nullopt;
    if (__builtin_add_overflow(total.now, part->now, &total.now) ||
        __builtin_add_overflow(total.full, part->full, &total.full)) {
      return std::nullopt;
    }
  }
  return total;
}

std::optional<std::int64_t> percentOf(const BatteryReading& battery) {
  if (battery.percent) return battery.percent;
  for (const auto& part : {battery.energy, battery.charge}) {
    std::int64_t scaled = 0;
    if (part && !__builtin_mul_overflow(part->now, 100, &scaled)) {
      const std::int64_t remainder = scaled % part->full;
      return scaled / part->full + (remainder >= part->full - remainder ? 1 : 0);
    }
  }
  return std::nullopt;
}

// Energy when every battery has it, else charge when every battery has it, else each battery's
// percent summed over 100 per battery: µWh and µAh cannot be added, so mixed kinds weigh equally.
std::optional<Quantity> combine(const std::vector<BatteryReading>& batteries) {
  if (batteries.empty()) return std::nullopt;
  if (auto energy = sumQuantities(batteries, &BatteryReading::energy)) return energy;
  if (auto charge = sumQuantities(batteries, &BatteryReading::charge)) return charge;
  Quantity total{0, 0};
  for (const auto& battery : batteries) {
    const auto percent = percentOf(battery);
    if (!percent || __builtin_add_overflow(total.now, *percent, &total.now) ||
        __builtin_add_overflow(total.full, 100, &total.full)) {
      return std::nullopt;
    }
  }
  return total;
}

bool isExternalSupplyType(std::string_view type) {
  // Older kernels name USB supplies by kind: USB_C, USB_PD, USB_DCP, ...
  return type == "Mains" || startsWith(type, "USB");
}

// "trip_point_<N>_type" gives "trip_point_<N>_"; anything else gives nothing.
std::optional<std::string> tripPrefix(std::string_view name) {
  constexpr std::string_view kHead = "trip_point_";
  constexpr std::string_view kTail = "_type";
  if (name.size() <= kHead.size() + kTail.size() || !startsWith(name, kHead) ||
      name.substr(name.size() - kTail.size()) != kTail) {
    return std::nullopt;
  }
  const auto digits = name.substr(kHead.size(), name.size() - kHead.size() - kTail.size());
  if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  return std::string(name.substr(0, name.size() - kTail.size() + 1));
}

ThermalState zoneState(const fs::path& zone) {
  const auto temperature = readInteger(zone / "temp");
  if (!temperature) return ThermalState::nominal;
  ThermalState state = ThermalState::nominal;
  for (const auto& [name, path] : listEntries(zone)) {
    const auto prefix = tripPrefix(name);
    if (!prefix) continue;
    const auto type = readWord(path);
    const auto trip = readInteger(zone / (*prefix + "temp"));
    // Kernels print -273250, -32768000 or 0 for a trip that is not set.
    if (!type || !trip || *trip <= 0 || *temperature < *trip) continue;
    if (*type == "critical" || *type == "hot") {
      state = ThermalState::critical;
    } else if (*type == "passive") {
      state = std::max(state, ThermalState::serious);
    }
  }
  return state;
}

}  // namespace

SysfsPowerReader::SysfsPowerReader(std::filesystem::path powerSupplyRoot,
                                   std::filesystem::path thermalRoot)
    : powerSupplyRoot_(std::move(powerSupplyRoot)), thermalRoot_(std::move(thermalRoot)) {}

ThermalState SysfsPowerReader::thermalState() {
  try {
    ThermalState worst = ThermalState::nominal;
    for (const auto& [name, path] : listEntries(thermalRoot_)) {
      if (startsWith(name, "thermal_zone")) worst = std::max(worst, zoneState(path));
    }
    return worst;
  } catch (...) {
    return ThermalState::nominal;  // only running out of memory gets here
  }
}

std::optional<PowerSourceDescription> SysfsPowerReader::firstPowerSource() {
  try {
    bool foundBattery = false;
    bool onExternalPower = false;
    std::vector<BatteryReading> readable;
    for (const auto& [name, path] : listEntries(powerSupplyRoot_)) {
      const auto type = readWord(path / "type");
      if (!type || isPeripheral(path)) continue;
      if (*type == "Battery") {
        // An empty bay of a two-battery laptop stays listed with present 0.
        if (readInteger(path / "present") == 0) continue;
        foundBattery = true;
        BatteryReading reading = readBattery(path);
        // A battery with nothing readable is skipped; the others still tell the level.
        if (reading.energy || reading.charge || reading.percent) readable.push_back(reading);
      } else if (isExternalSupplyType(*type)) {
        // USB supplies report 2 when their voltage is negotiable: still online.
        const auto online = readInteger(path / "online");
        if (online && *online > 0) onExternalPower = true;
      }
    }
    if (!foundBattery) return std::nullopt;

    PowerSourceDescription description;
    description["Power Source State"] = std::string(onExternalPower ? "AC Power" : "Battery Power");
    if (const auto total = combine(readable)) {
      description["Current Capacity"] = total->now;
      description["Max Capacity"] = total->full;
    }
    return description;
  } catch (...) {
    return std::nullopt;  // only running out of memory gets here
  }
}

std::unique_ptr<PowerReader> makePlatformPowerReader() {
  return std::make_unique<SysfsPowerReader>();
}

}  // namespace wexla::kit
