#include "engine/archiver_config.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "support/sandbox.h"

namespace zentrove::engine {
namespace {

using ::testing::HasSubstr;
using zentrove::testing::ReadFile;

class ArchiverConfigDocumentTest : public zentrove::testing::SandboxedTest {
 protected:
  std::string PathOf(const std::string& name) { return ConfigFolderText() + name; }
  ArchiverConfigDocument document_;
};

TEST_F(ArchiverConfigDocumentTest, SaveKeepsUnknownKeysAndLinesInTheirPlaces) {
  WriteFile("config/rar.EMC",
            "; made by hand\r\n[Options]\r\nExt=\"rar\"\r\nVendorKey = kept as is\r\nCommand=rar\r\n"
            "PasswordSw=\"-p[Password]\"\r\n\r\n[Notes]\r\nWho=\"me\"\r\n");
  ASSERT_TRUE(document_.Open(PathOf("rar.EMC")).Ok());
  EXPECT_EQ(document_.Caption(), "Configuration file " + PathOf("rar.EMC"));
  EXPECT_EQ(document_.values.Ext, "rar");
  EXPECT_EQ(document_.values.Command, "rar");
  EXPECT_EQ(document_.values.ParamStr, "");

  document_.values.Command = " /opt/rar/rar";  // a leading blank survives
  document_.values.PasswordSw.clear();
  document_.values.ListCodePage = 1;
  ASSERT_TRUE(document_.Save().Ok());

  const std::string text = ReadFile(PathOf("rar.EMC"));
  EXPECT_THAT(text, HasSubstr("; made by hand\r\n[Options]\r\nExt=\"rar\"\r\nVendorKey = kept as is\r\n"
                              "Command=\" /opt/rar/rar\"\r\nPasswordSw=\"\"\r\nParamStr=\"\"\r\n"));
  EXPECT_THAT(text, HasSubstr("ListCodePage=\"1\"\r\nComment=\"\"\r\n\r\n[Notes]\r\nWho=\"me\"\r\n"));
  ArchiverConfigDocument reread;
  ASSERT_TRUE(reread.Open(PathOf("rar.EMC")).Ok());
  EXPECT_EQ(reread.values, document_.values);

  // Save as carries the unknown lines into the new file, which replaces what was there.
  WriteFile("config/Copy.emc", "[Options]\r\nStale=\"1\"\r\n");
  ASSERT_TRUE(document_.SaveAs(PathOf("Copy.emc")).Ok());
  const std::string copy = ReadFile(PathOf("Copy.emc"));
  EXPECT_THAT(copy, HasSubstr("VendorKey=kept as is\r\n"));
  EXPECT_THAT(copy, HasSubstr("Who=me\r\n"));
  EXPECT_THAT(copy, ::testing::Not(HasSubstr("Stale")));
  EXPECT_EQ(document_.CurrentFile(), PathOf("Copy.emc"));
}

TEST_F(ArchiverConfigDocumentTest, FailedOpenLeavesNoFileToWriteOver) {
  const std::string binary = std::string("7z\xbc\xaf", 4) + '\0' + "[Options]\r\nExt=x\r\n";
  WriteFile("config/Backup.7z", binary);
  document_.values.Ext = "typed";

  const platform::Status opened = document_.Open(PathOf("Backup.7z"));

  EXPECT_FALSE(opened.Ok());
  EXPECT_THAT(opened.Message(), HasSubstr("not an archiver configuration"));
  EXPECT_FALSE(document_.CurrentFile());
  EXPECT_EQ(document_.Caption(), "Configuration file is not open");
  EXPECT_EQ(document_.values, StartingArchiverConfig());
  EXPECT_FALSE(document_.Save().Ok());
  EXPECT_EQ(ReadFile(PathOf("Backup.7z")), binary);
  EXPECT_FALSE(document_.Open(ConfigFolderText()).Ok());  // a folder
}

TEST_F(ArchiverConfigDocumentTest, NewFilesGetEveryKeyInOrderAndAMissingFileOpensEmpty) {
  ASSERT_TRUE(document_.SaveAs(PathOf("New.EMC")).Ok());
  const std::string text = ReadFile(PathOf("New.EMC"));
  EXPECT_EQ(text.rfind("[Options]\r\nExt=\"\"\r\nCommand=\"\"\r\n", 0), 0u);
  std::size_t position = 0;
  for (const ArchiverConfigKey& key : ArchiverConfigKeys()) {
    const std::size_t found = text.find("\r\n" + std::string(key.name) + "=\"", position);
    ASSERT_NE(found, std::string::npos) << key.name;
    position = found;
  }
  EXPECT_EQ(ParseArchiverConfig(text), StartingArchiverConfig());

  ASSERT_TRUE(document_.Open(PathOf("Missing.EMC")).Ok());
  EXPECT_EQ(document_.values, TExtArhInfo{});
  EXPECT_EQ(document_.CurrentFile(), PathOf("Missing.EMC"));
}

TEST(ArchiverConfigName, EmcIsAddedOnlyWhenTheFileNameHasNoDot) {
  EXPECT_EQ(WithArchiverConfigExtension("/home/u/.config/Zentrove/Rar"), "/home/u/.config/Zentrove/Rar.emc");
  EXPECT_EQ(WithArchiverConfigExtension("/c/my.archiver"), "/c/my.archiver");
  EXPECT_EQ(WithArchiverConfigExtension("/c/7z.EMC"), "/c/7z.EMC");
}

}  // namespace
}  // namespace zentrove::engine
