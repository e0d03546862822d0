#include <gtest/gtest.h>

#include "XPCPeerAuth.hpp"

namespace wexla::kit {
namespace {

TEST(XPCPeerAuth, RequirementText) {
  struct Case {
    const char* team;
    const char* bundle;
    const char* text;
  };
  const Case cases[] = {
      {"K7QW2ZR9TD", "dev.wexla.app",
       R"(identifier "dev.wexla.app" and anchor apple generic and certificate leaf[subject.OU] = "K7QW2ZR9TD")"},
      // Team first, bundle second, though the text names the bundle first.
      {"TEAM", "BUNDLE",
       R"(identifier "BUNDLE" and anchor apple generic and certificate leaf[subject.OU] = "TEAM")"},
      // Inserted unchanged: such a text does not compile, so every peer is denied.
      {"K7\"QW", "dev.wexla.app",
       R"(identifier "dev.wexla.app" and anchor apple generic and certificate leaf[subject.OU] = "K7"QW")"},
      {"", "", R"(identifier "" and anchor apple generic and certificate leaf[subject.OU] = "")"},
  };
  for (const auto& c : cases) EXPECT_EQ(XPCPeerAuth::requirement(c.team, c.bundle), c.text);
}

}  // namespace
}  // namespace wexla::kit
