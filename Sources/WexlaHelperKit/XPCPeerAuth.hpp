#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace wexla::kit {

// The platform's 32-byte audit token of a connected process, as raw words in memory order.
using AuditToken = std::array<std::uint32_t, 8>;

// The gate in front of the helper: only the application, signed by its maker, gets through.
namespace XPCPeerAuth {

// The code-signing requirement for the application: its signing identifier, an Apple-issued
// certificate chain, and the team in the leaf certificate. Values are inserted unchanged.
std::string requirement(std::string_view teamID, std::string_view bundleID);

// Whether the process behind the token satisfies the requirement. Every failure denies.
bool isAuthorized(const AuditToken& auditToken, const std::string& requirement);

}  // namespace XPCPeerAuth

}  // namespace wexla::kit
