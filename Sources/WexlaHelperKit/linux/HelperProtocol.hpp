#pragma once

// The helper's interface on the system bus; its introspection XML is dev.wexla.HelperProtocol.xml
// beside this file.
namespace wexla::kit::HelperProtocol {

inline constexpr const char* kBusName = "dev.wexla.helper";
inline constexpr const char* kObjectPath = "/dev/wexla/helper";
inline constexpr const char* kInterface = "dev.wexla.HelperProtocol";
inline constexpr const char* kSetDisableSleep = "SetDisableSleep";          // (b on) -> (b ok)
inline constexpr const char* kHeartbeat = "Heartbeat";                      // () -> (b ok)
inline constexpr const char* kCurrentDisableSleep = "CurrentDisableSleep";  // () -> (b on)
// Every call of a caller polkit gave no answer about (not running, or too slow): no refusal, and
// asking again later may do.
inline constexpr const char* kErrorUnchecked = "dev.wexla.HelperProtocol.Error.Unchecked";

}  // namespace wexla::kit::HelperProtocol
