#include "core/options_form.h"

#include <gtest/gtest.h>

#include "core/task_form.h"
#include "support/sandbox.h"

namespace zentrove::core {
namespace {

using testing::ReadFile;

TEST(OptionsFormConversions, FontSizeBandsBothWays) {
  const std::pair<int, int> bands[] = {{0, 0},   {99, 0},  {100, 0}, {119, 0}, {120, 1},
                                       {130, 1}, {139, 1}, {140, 2}, {159, 2}, {160, 3},
                                       {179, 3}, {180, 4}, {199, 4}, {200, 5}, {350, 5}};
  for (const auto& [scale, choice] : bands)
    EXPECT_EQ(FontSizeChoiceOf(scale), choice) << scale;
  for (int choice = 0; choice < kFontSizeChoiceCount; ++choice) {
    EXPECT_EQ(FormScaleAt(choice), 100 + 20 * choice);
    EXPECT_EQ(FontSizeChoiceOf(FormScaleAt(choice)), choice);
  }
}

TEST(OptionsFormConversions, ListsAndNumberFields) {
  const auto levels = ListCaptions("CompressMetod");
  ASSERT_EQ(levels.size(), 8U);
  EXPECT_EQ(levels.front(), "Do not archive");
  EXPECT_EQ(levels[static_cast<std::size_t>(CompressionIndexOf(9))], "Maximal compression");
  EXPECT_EQ(ListCaptions("PSDefaultAction"),
            (std::vector<std::string>{"Archive all files", "Skip locked files", "Abort task execution"}));
  EXPECT_EQ(LockedFileActionAt(2), 3);
  EXPECT_EQ(ListCaptions("ZipPriority").size(), 6U);
  EXPECT_EQ(PriorityIndexOf(5), 5);
  EXPECT_EQ(PriorityIndexOf(9), 3);

  EXPECT_EQ(ColorChoices()[static_cast<std::size_t>(ColorChoiceIndexOf(255))].caption, "Red");
  EXPECT_EQ(ColorChoices()[static_cast<std::size_t>(ColorChoiceIndexOf(16711680))].caption, "Blue");
  EXPECT_EQ(ColorChoiceIndexOf(0x123456), -1);

  EXPECT_EQ(LogNumberOf(" 2500 ", 500), 2500);
  EXPECT_EQ(LogNumberOf("", 500), 500);
  EXPECT_EQ(LogNumberOf("12a", 1000), 1000);
  EXPECT_EQ(LogNumberOf("0", 1000), 1);
  EXPECT_EQ(LogNumberOf("99999999999", 1000), 32000);
}

class OptionsSaveTest : public testing::SandboxedTest {
 protected:
  void SetUp() override {
    SandboxedTest::SetUp();
    WriteFile("config/Zentrove.ini", kBefore);
    SetCurrentOptions(ProgramOptions{});
  }
  void TearDown() override {
    SetCurrentOptions(ProgramOptions{});
    SandboxedTest::TearDown();
  }
  std::string IniPath() const { return OptionsFilePath(ConfigFolderText()); }

  static constexpr const char* kBefore = "[Options]\r\nMaxLog=77\r\n";
};

TEST_F(OptionsSaveTest, RefusedConfirmationChangesNothingAndASaveTakesEffect) {
  IniFile file = OpenOptionsFile(ConfigFolderText());
  const std::string memoryBefore = file.Text();
  ProgramOptions edited;
  edited.MaxLog = 5;
  edited.PopUpPassword = "secret";
  bool autostart = false;
  const auto noteAutostart = [&](bool) { autostart = true; };

  EXPECT_EQ(SaveEditedOptions(file, edited, "Secret", noteAutostart).Message(),
            "Password confirmation error");

  EXPECT_FALSE(autostart);
  EXPECT_EQ(ReadFile(IniPath()), kBefore);
  EXPECT_EQ(file.Text(), memoryBefore);
  EXPECT_EQ(*CurrentOptions(), ProgramOptions{});

  edited.PopUpPassword.clear();
  ASSERT_TRUE(SaveEditedOptions(file, edited, "", noteAutostart).Ok());
  EXPECT_TRUE(autostart);
  EXPECT_EQ(CurrentOptions()->MaxLog, 5);
  EXPECT_EQ(LoadOptions(OpenOptionsFile(ConfigFolderText())).MaxLog, 5);
}

}  // namespace
}  // namespace zentrove::core
