// The polkit check against a stand-in authority on a private system-like bus.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <iterator>

#include "Files.hpp"
#include "PolkitAuthority.hpp"
#include "PrivateBus.hpp"
#include "TempDir.hpp"

namespace wexla::kit {
namespace {

using namespace std::chrono_literals;

class PolkitAuthorityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bus_ = std::make_unique<test::PrivateBus>(test::PrivateBus::systemLike(dir_.path()));
    // sd_bus_open_system finds the bus the platform's way.
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", bus_->address().c_str(), 1);
    sd_bus* client = nullptr;
    ASSERT_GE(sd_bus_open_system(&client), 0);
    client_.reset(client);
  }
  void TearDown() override { ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS"); }

  void startAuthority(const std::string& answer, const std::string& slowFor = "") {
    authority_.reset();
    authority_ = std::make_unique<test::ChildProcess>(
        std::vector<std::string>{WEXLA_FAKE_POLKIT_PATH, "--record", record().string(), "--answer",
                                 answer, "--slow-for", slowFor},
        std::vector<std::string>{"DBUS_SYSTEM_BUS_ADDRESS=" + bus_->address()});
    ASSERT_EQ(authority_->readLine(10s), "ready");
  }
  // Asks, then serves the bus until the verdict comes: nothing if it never does.
  std::optional<bool> ask(const char* name, std::chrono::milliseconds limit = 5s) {
    std::optional<bool> verdict;
    const sd::Slot question = PolkitAuthority(limit).ask(client_.get(), name, [&](bool authorized) {
      EXPECT_FALSE(verdict) << "a second verdict";
      verdict = authorized;
    });
    for (const auto deadline = std::chrono::steady_clock::now() + 20s;
         question && !verdict && std::chrono::steady_clock::now() < deadline;) {
      if (sd_bus_process(client_.get(), nullptr) == 0) sd_bus_wait(client_.get(), 100'000);
    }
    return verdict;
  }
  std::filesystem::path record() const { return dir_.path() / "asked"; }
  std::string asked() const { return test::readFile(record()); }

  test::TempDir dir_;
  std::unique_ptr<test::PrivateBus> bus_;
  sd::Bus client_;
  std::unique_ptr<test::ChildProcess> authority_;
};

TEST_F(PolkitAuthorityTest, OnlyAPlainYesAuthorises) {
  struct Case {
    const char* answer;
    bool authorized;
  };
  const Case cases[] = {
      {"authorized", true}, {"denied", false}, {"challenge", false}, {"malformed", false}};
  for (const auto& c : cases) {
    startAuthority(c.answer);
    EXPECT_EQ(ask(":1.42"), c.authorized) << c.answer;
  }
  // Asked for the bus peer, the helper's action, no details, no interaction.
  EXPECT_EQ(asked(), std::string() +
                         "system-bus-name :1.42 dev.wexla.helper.control 0 0 ''\n"
                         "system-bus-name :1.42 dev.wexla.helper.control 0 0 ''\n"
                         "system-bus-name :1.42 dev.wexla.helper.control 0 0 ''\n"
                         "system-bus-name :1.42 dev.wexla.helper.control 0 0 ''\n");
}

TEST_F(PolkitAuthorityTest, NoAuthorityOrASlowOneDenies) {
  EXPECT_EQ(ask(":1.7"), false);

  startAuthority("authorized", ":1.7");
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(ask(":1.7", 300ms), false);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
}

}  // namespace
}  // namespace wexla::kit
