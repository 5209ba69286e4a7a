#include <filesystem>
#include <optional>
#include <string>

#include "platform/autostart.h"
#include "platform/platform_test_util.h"
#include "platform/service.h"
#include "program_fixture.h"
#include "support/fake_user_manager.h"

namespace zentrove::testing {
namespace {

namespace fs = std::filesystem;

class ServiceCommands : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    tools_.emplace(Sandbox() / "bin");
    path_.emplace("PATH", tools_->Folder());
    fail_.emplace("FAKE_FAIL", std::nullopt);
  }
  void TearDown() override {
    fail_.reset();
    path_.reset();
    ProgramTest::TearDown();
  }
  fs::path UnitFile() const { return Sandbox() / "home/.config/systemd/user/Zentrove_Starter.service"; }
  fs::path AutostartEntry() const { return Sandbox() / "home/.config/autostart/Zentrove.desktop"; }

 private:
  std::optional<EnvGuard> path_, fail_;
  std::optional<FakeUserManager> tools_;
};

TEST_F(ServiceCommands, InstallAndRemoveTheUnitOfThisProgramOnItsConfigurationFolder) {
  platform::CaptureResult result = RunProgram({"service-install"});
  EXPECT_EQ(result.exitCode, 0) << result.errors;
  EXPECT_EQ(result.output,
            "Service has been installed successfully\nService Zentrove_Starter is installed\n");
  const std::string unit = ReadFile(UnitFile());
  EXPECT_NE(unit.find("Environment=\"ZENTROVE_CONFIG_DIR=" + ConfigDir().string() + "\"\n"),
            std::string::npos)
      << unit;
  EXPECT_NE(unit.find("ExecStart=:\"" + fs::canonical(Program()).string() + "\" \"service\"\n"),
            std::string::npos)
      << unit;

  result = RunProgram({"service-remove"});
  EXPECT_EQ(result.exitCode, 0) << result.errors;
  EXPECT_EQ(
      result.output,
      "Service is successfully removed or is marked on removal\nService Zentrove_Starter has been deleted\n");
  EXPECT_FALSE(fs::exists(UnitFile()));

  result = RunProgram({"service-remove"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.output, "Service is not installed\nService Zentrove_Starter is not installed\n");
}

TEST_F(ServiceCommands, WithoutAUserManagerTheInstallFailsAndSaysWhy) {
  setenv("FAKE_FAIL", "all", 1);
  const platform::CaptureResult result = RunProgram({"service-install"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.output, "");
  EXPECT_EQ(
      result.errors,
      "Service installing error\n"
      "The systemd user manager cannot be reached (systemctl --user daemon-reload failed with exit code 1: "
      "Failed to connect to bus: No medium found)\n"
      "Service Zentrove_Starter is not installed\n");
  EXPECT_FALSE(fs::exists(UnitFile()));
  EXPECT_EQ(RunProgram({"service-install", "now"}).exitCode, 2);
}

TEST_F(ServiceCommands, TheStartKeepsTheAutostartEntryInStepWithRunOnStartUp) {
  const auto started = [this] {
    platform::Process& copy = StartProgram({"service"});
    EXPECT_TRUE(WaitForLog("Tasks list successfully loaded")) << Log();
    EXPECT_EQ(StopProgram(copy), 0);
    fs::remove(LogPath());
  };
  ASSERT_EQ(RunProgram({"option", "RunOnStartUp=1"}).exitCode, 0);
  started();
  const std::string entry = ReadFile(AutostartEntry());
  EXPECT_NE(entry.find("Exec=\"" + fs::canonical(Program()).string() + "\"\n"), std::string::npos) << entry;
  EXPECT_NE(entry.find("X-Zentrove-Autostart=true\n"), std::string::npos);

  ASSERT_EQ(RunProgram({"option", "RunOnStartUp=0"}).exitCode, 0);
  started();
  EXPECT_FALSE(fs::exists(AutostartEntry()));
}

}  // namespace
}  // namespace zentrove::testing
