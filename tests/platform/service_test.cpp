#include "platform/service.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/autostart.h"
#include "platform/files.h"
#include "platform_test_util.h"
#include "support/fake_user_manager.h"
#include "support/sandbox.h"

namespace zentrove::platform {
namespace {

using testing::EnvGuard;
using testing::FakeUserManager;
using testing::ReadFile;

constexpr const char* kOddProgram = "/opt/my apps/100% $HOME/zentrove";

class ServiceTest : public testing::SandboxedTest {
 protected:
  void SetUp() override {
    SandboxedTest::SetUp();
    home_.emplace("HOME", MakeDir("home").string());
    configHome_.emplace("XDG_CONFIG_HOME", (Sandbox() / "xdg").string());
    tools_.emplace(Sandbox() / "bin");
    path_.emplace("PATH", tools_->Folder());
    fail_.emplace("FAKE_FAIL", std::nullopt);
    active_.emplace("FAKE_ACTIVE", std::nullopt);
  }
  void TearDown() override {
    active_.reset();
    fail_.reset();
    path_.reset();
    configHome_.reset();
    home_.reset();
    SandboxedTest::TearDown();
  }

  static ServiceDefinition Definition() { return {kOddProgram, {"service"}, {}}; }
  std::filesystem::path UnitFile() const { return Sandbox() / "xdg/systemd/user/Zentrove_Starter.service"; }
  const FakeUserManager& Tools() const { return *tools_; }
  // The fakes read these at every call.
  void FailVerbs(const std::string& verbs) { setenv("FAKE_FAIL", verbs.c_str(), 1); }
  void RunningNow() { setenv("FAKE_ACTIVE", "active", 1); }

  void Install() {
    ASSERT_TRUE(InstallService(Definition()).Ok);
    Tools().ClearCalls();
  }

 private:
  std::optional<EnvGuard> home_, configHome_, path_, fail_, active_;
  std::optional<FakeUserManager> tools_;
};

TEST(ServiceUnitTest, QuotesTheProgramAndEscapesByTheUnitFileRules) {
  const ServiceDefinition definition{
      kOddProgram, {"service", "localcfg"}, {{"ZENTROVE_CONFIG_DIR", "/srv/a \"b\\c"}}};
  EXPECT_EQ(ServiceUnitText(definition),
            "[Unit]\n"
            "Description=Zentrove backup scheduler\n"
            "\n"
            "[Service]\n"
            "Type=simple\n"
            "Environment=\"ZENTROVE_CONFIG_DIR=/srv/a \\\"b\\\\c\"\n"
            "ExecStart=:\"/opt/my apps/100%% $HOME/zentrove\" \"service\" \"localcfg\"\n"
            "Restart=on-failure\n"
            "RestartSec=10\n"
            "\n"
            "[Install]\n"
            "WantedBy=default.target\n");
  EXPECT_EQ(SystemdWord("a\nb\x7f"), "\"a\\x0ab\\x7f\"");
}

TEST_F(ServiceTest, InstallWritesTheUnitThenReloadsEnablesAndTurnsLingeringOn) {
  const ServiceOutcome outcome = InstallService(Definition());
  EXPECT_TRUE(outcome.Ok) << outcome.Reason;
  EXPECT_EQ(outcome.Message, "Service has been installed successfully");
  EXPECT_EQ(outcome.Line, "Service Zentrove_Starter is installed");
  EXPECT_EQ(ReadFile(UnitFile()), ServiceUnitText(Definition()));
  EXPECT_EQ(Tools().Calls(), FakeUserManager::InstallCalls());

  Tools().ClearCalls();
  const ServiceOutcome again = InstallService(Definition());
  EXPECT_TRUE(again.Ok);
  EXPECT_EQ(again.Message, "Service is already installed");
  EXPECT_TRUE(Tools().Calls().empty());
}

TEST_F(ServiceTest, AFailedStepTakesBackEverythingBeforeIt) {
  struct Case {
    std::string failingVerb;
    std::vector<std::string> calls;
    std::string reasonPart;
  };
  const std::vector<std::string> install = FakeUserManager::InstallCalls();
  const std::vector<Case> cases = {
      {"all",
       {install[0]},
       "The systemd user manager cannot be reached (systemctl --user daemon-reload failed"},
      {"enable", {install[0], install[1], install[0]}, "Failed to connect to bus"},
      {"enable-linger",
       {install[0], install[1], install[2], "systemctl --user disable Zentrove_Starter.service", install[0]},
       "Access denied; without lingering"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failingVerb);
    FailVerbs(c.failingVerb);
    Tools().ClearCalls();
    const ServiceOutcome outcome = InstallService(Definition());
    EXPECT_FALSE(outcome.Ok);
    EXPECT_EQ(outcome.Message, "Service installing error");
    EXPECT_NE(outcome.Reason.find(c.reasonPart), std::string::npos) << outcome.Reason;
    EXPECT_EQ(outcome.Line, "Service Zentrove_Starter is not installed");
    EXPECT_FALSE(std::filesystem::exists(UnitFile()));
    EXPECT_EQ(Tools().Calls(), c.calls);
  }
}

TEST_F(ServiceTest, WithoutSystemctlNothingIsWrittenAndTheStatusSaysWhy) {
  Tools().RemoveSystemctl();
  const ServiceOutcome outcome = InstallService(Definition());
  EXPECT_FALSE(outcome.Ok);
  EXPECT_EQ(outcome.Reason,
            "systemctl was not found, so there is no systemd user manager to run the service");
  EXPECT_FALSE(std::filesystem::exists(UnitFile()));
  const ServiceStatus status = QueryServiceStatus();
  EXPECT_FALSE(status.Installed);
  EXPECT_EQ(ServiceStatusText(status),
            "Service Zentrove_Starter is not installed\n"
            "systemctl was not found, so there is no systemd user manager to run the service");
}

TEST_F(ServiceTest, APathSystemdCannotStartIsRefusedBeforeAnythingIsWritten) {
  ServiceDefinition definition = Definition();
  definition.ProgramPath = "/opt/it's/zentrove";
  const ServiceOutcome outcome = InstallService(definition);
  EXPECT_FALSE(outcome.Ok);
  EXPECT_NE(outcome.Reason.find("no quotes, backslashes or control characters"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(UnitFile()));
  EXPECT_TRUE(Tools().Calls().empty());
}

TEST_F(ServiceTest, RemoveDisablesDeletesAndReloadsButNeverStopsTheUnit) {
  ServiceOutcome outcome = RemoveService();
  EXPECT_TRUE(outcome.Ok);
  EXPECT_EQ(outcome.Message, "Service is not installed");
  EXPECT_TRUE(Tools().Calls().empty());

  Install();
  outcome = RemoveService();
  EXPECT_TRUE(outcome.Ok);
  EXPECT_EQ(outcome.Message, "Service is successfully removed or is marked on removal");
  EXPECT_EQ(outcome.Line, "Service Zentrove_Starter has been deleted");
  EXPECT_FALSE(std::filesystem::exists(UnitFile()));
  EXPECT_EQ(Tools().Calls(),
            (std::vector<std::string>{"systemctl --user disable Zentrove_Starter.service",
                                      "systemctl --user daemon-reload",
                                      "systemctl --user is-active Zentrove_Starter.service"}));

  Install();
  RunningNow();
  EXPECT_EQ(RemoveService().Line, "Service Zentrove_Starter has been marked for deletion");
}

TEST_F(ServiceTest, ARemovalTheUserManagerRefusesKeepsTheUnit) {
  Install();
  FailVerbs("disable");
  const ServiceOutcome outcome = RemoveService();
  EXPECT_FALSE(outcome.Ok);
  EXPECT_EQ(outcome.Message, "Cannot remove service. Please stop it, if it is running");
  EXPECT_NE(outcome.Reason.find("Failed to connect to bus"), std::string::npos);
  EXPECT_EQ(outcome.Line, "Service Zentrove_Starter is installed");
  EXPECT_TRUE(std::filesystem::exists(UnitFile()));
}

TEST_F(ServiceTest, TheStatusNamesWhatKeepsTheServiceFromRunningAndAnAutostartedCopy) {
  Install();
  EXPECT_EQ(ServiceStatusText(QueryServiceStatus()), "Service Zentrove_Starter is installed");

  EnvGuard disabled("FAKE_ENABLED", "disabled");
  EnvGuard notLingering("FAKE_LINGER", "no");
  ASSERT_TRUE(SetAutostart(true, kOddProgram, {}).Ok());
  const ServiceStatus status = QueryServiceStatus();
  EXPECT_TRUE(status.Installed);
  EXPECT_FALSE(status.Enabled);
  EXPECT_FALSE(status.Lingering);
  EXPECT_TRUE(status.AutostartEntryToo);
  EXPECT_EQ(
      ServiceStatusText(status),
      "Service Zentrove_Starter is installed\n"
      "It is not enabled, so it does not start at boot.\n"
      "Lingering is off for this user, so it starts only with a log-on and ends with the last log-off.\n"
      "The autostart entry also starts a copy at log-on; both copies work on the same configuration "
      "folder, and a task never runs in both at once.");
}

}  // namespace
}  // namespace zentrove::platform
