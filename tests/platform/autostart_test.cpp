#include "platform/autostart.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform_test_util.h"
#include "support/sandbox.h"

namespace zentrove::platform {
namespace {

using testing::EnvGuard;
using testing::ReadFile;

class AutostartTest : public testing::SandboxedTest {
 protected:
  void SetUp() override {
    SandboxedTest::SetUp();
    home_.emplace("HOME", MakeDir("home").string());
    configHome_.emplace("XDG_CONFIG_HOME", (Sandbox() / "xdg").string());
  }
  void TearDown() override {
    configHome_.reset();
    home_.reset();
    SandboxedTest::TearDown();
  }
  std::filesystem::path Entry() const { return Sandbox() / "xdg/autostart/Zentrove.desktop"; }

 private:
  std::optional<EnvGuard> home_, configHome_;
};

TEST_F(AutostartTest, TheEntryQuotesAnOddProgramPathAndPassesTheValidator) {
  const std::string text = AutostartEntryText("/opt/my apps/100% $HOME/zen\\trove\"", {"localcfg"});
  EXPECT_EQ(text,
            "[Desktop Entry]\n"
            "Type=Application\n"
            "Name=Zentrove\n"
            "Comment=Backup scheduler\n"
            "Exec=\"/opt/my apps/100%% \\\\$HOME/zen\\\\\\\\trove\\\\\"\" \"localcfg\"\n"
            "Terminal=false\n"
            "X-Zentrove-Autostart=true\n");
  EXPECT_EQ(DesktopExecWord("a\tb"), "\"a\\tb\"");
  ASSERT_TRUE(testing::HaveTool("desktop-file-validate"));
  const auto file = WriteFile("check/Zentrove.desktop", text);
  const auto validated = testing::RunCommand("desktop-file-validate " + testing::ShellQuote(file.string()));
  EXPECT_EQ(validated.status, 0) << validated.output;
  EXPECT_EQ(validated.output, "");
}

TEST_F(AutostartTest, OnWritesOurEntryAndOffRemovesIt) {
  EXPECT_EQ(AutostartEntryPath(), Entry().string());
  EXPECT_EQ(FindAutostartEntry(), AutostartEntryKind::None);
  ASSERT_TRUE(SetAutostart(false, "/usr/bin/zentrove", {}).Ok());
  EXPECT_FALSE(std::filesystem::exists(Entry()));

  ASSERT_TRUE(SetAutostart(true, "/usr/bin/zentrove", {}).Ok());
  EXPECT_EQ(ReadFile(Entry()), AutostartEntryText("/usr/bin/zentrove", {}));
  EXPECT_EQ(FindAutostartEntry(), AutostartEntryKind::Ours);
  // A moved program updates the entry.
  ASSERT_TRUE(SetAutostart(true, "/opt/zentrove", {}).Ok());
  EXPECT_EQ(ReadFile(Entry()), AutostartEntryText("/opt/zentrove", {}));

  ASSERT_TRUE(SetAutostart(false, "/opt/zentrove", {}).Ok());
  EXPECT_FALSE(std::filesystem::exists(Entry()));
}

TEST_F(AutostartTest, AnEntryMadeByHandIsNeverReplacedOrDeleted) {
  const std::vector<std::string> handMade = {
      "[Desktop Entry]\nType=Application\nName=Mine\nExec=zentrove localcfg\n",
      "[Desktop Entry]\nExec=zentrove\nX-Zentrove-Autostart=false\n",
      "[Desktop Action x]\nX-Zentrove-Autostart=true\n[Desktop Entry]\nExec=zentrove\n",
      "# X-Zentrove-Autostart=true\n[Desktop Entry]\nExec=zentrove\n",
  };
  for (const std::string& text : handMade) {
    SCOPED_TRACE(text);
    WriteFile("xdg/autostart/Zentrove.desktop", text);
    EXPECT_EQ(FindAutostartEntry(), AutostartEntryKind::MadeByUser);
    EXPECT_TRUE(SetAutostart(true, "/usr/bin/zentrove", {}).Ok());
    EXPECT_EQ(ReadFile(Entry()), text);
    EXPECT_TRUE(SetAutostart(false, "/usr/bin/zentrove", {}).Ok());
    EXPECT_EQ(ReadFile(Entry()), text);
  }
  EXPECT_TRUE(IsOurAutostartEntry("[Desktop Entry]\r\nX-Zentrove-Autostart = true \r\n"));
}

}  // namespace
}  // namespace zentrove::platform
