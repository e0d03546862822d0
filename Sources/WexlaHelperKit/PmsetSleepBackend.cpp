#include "PmsetSleepBackend.hpp"

#include <utility>

#include "Subprocess.hpp"

namespace wexla::kit {

namespace {

bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Well-formed UTF-8 as Unicode defines it: no overlong forms, surrogates or values beyond
// U+10FFFF.
bool isValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 1;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (i + length > text.size()) return false;
    const auto second = static_cast<unsigned char>(text[i + 1]);
    if (second < low || second > high) return false;
    for (std::size_t k = 2; k < length; ++k) {
      if (!isContinuation(static_cast<unsigned char>(text[i + k]))) return false;
    }
    i += length;
  }
  return true;
}

}  // namespace

PmsetSleepBackend::PmsetSleepBackend(std::string toolPath, std::chrono::milliseconds runLimit)
    : toolPath_(std::move(toolPath)), runLimit_(runLimit) {}

PmsetSleepBackend::PmsetResult PmsetSleepBackend::runPmset(
    const std::vector<std::string>& args) const {
  SubprocessResult run = runSubprocess(toolPath_, args, runLimit_);
  if (!isValidUtf8(run.output)) run.output.clear();
  return {run.status, std::move(run.output)};
}

bool PmsetSleepBackend::setDisableSleep(bool on) {
  const PmsetResult result = runPmset({"-a", "disablesleep", on ? "1" : "0"});
  // Without root privileges pmset says so and still exits 0: that is no success.
  return result.status == 0 && result.output.find("must be run as root") == std::string::npos;
}

bool PmsetSleepBackend::isDisableSleepOn() { return reportsSleepDisabled(runPmset({"-g"}).output); }

bool PmsetSleepBackend::reportsSleepDisabled(std::string_view report) {
  while (!report.empty()) {
    const std::size_t end = report.find('\n');
    const std::string_view line = report.substr(0, end);
    if (line.find("SleepDisabled") != std::string_view::npos) {
      return line.find('1') != std::string_view::npos;
    }
    if (end == std::string_view::npos) break;
    report.remove_prefix(end + 1);
  }
  return false;
}

}  // namespace wexla::kit
