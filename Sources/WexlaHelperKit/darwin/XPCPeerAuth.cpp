// Checks a connected process against a code-signing requirement with the Security framework.
#include "../XPCPeerAuth.hpp"

#include <Security/Security.h>

#include "CFHolder.hpp"

namespace wexla::kit {

bool XPCPeerAuth::isAuthorized(const AuditToken& auditToken, const std::string& requirement) {
  static_assert(sizeof(AuditToken) == sizeof(audit_token_t));
  const Owned<CFDataRef> token(CFDataCreate(kCFAllocatorDefault,
                                            reinterpret_cast<const UInt8*>(auditToken.data()),
                                            sizeof(audit_token_t)));
  if (!token) return false;
  const void* keys[] = {kSecGuestAttributeAudit};
  const void* values[] = {token.get()};
  const Owned<CFDictionaryRef> attributes(CFDictionaryCreate(kCFAllocatorDefault, keys, values, 1,
                                                             &kCFTypeDictionaryKeyCallBacks,
                                                             &kCFTypeDictionaryValueCallBacks));
  if (!attributes) return false;

  SecCodeRef guest = nullptr;
  if (SecCodeCopyGuestWithAttributes(nullptr, attributes.get(), kSecCSDefaultFlags, &guest) !=
          errSecSuccess ||
      guest == nullptr) {
    return false;
  }
  const Owned<SecCodeRef> code(guest);

  const Owned<CFStringRef> text(CFStringCreateWithBytes(
      kCFAllocatorDefault, reinterpret_cast<const UInt8*>(requirement.data()),
      static_cast<CFIndex>(requirement.size()), kCFStringEncodingUTF8, false));
  if (!text) return false;
  SecRequirementRef compiled = nullptr;
  if (SecRequirementCreateWithString(text.get(), kSecCSDefaultFlags, &compiled) != errSecSuccess ||
      compiled == nullptr) {
    return false;
  }
  const Owned<SecRequirementRef> required(compiled);

  return SecCodeCheckValidity(code.get(), kSecCSDefaultFlags, required.get()) == errSecSuccess;
}

}  // namespace wexla::kit
