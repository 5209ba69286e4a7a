#include "app/cli_option.h"

#include <gtest/gtest.h>

#include <sstream>

#include "app/cli.h"
#include "core/config_folder.h"
#include "core/options.h"
#include "core/password_scramble.h"
#include "support/sandbox.h"

namespace zentrove::app {
namespace {

using testing::ReadFile;

class CliOptionTest : public testing::SandboxedTest {
 protected:
  void TearDown() override {
    core::SetStartFlags({});
    SandboxedTest::TearDown();
  }

  int Run(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"zentrove", "option"});
    out_.str({});
    err_.str({});
    return RunCli(arguments, out_, err_);
  }

  core::ProgramOptions Stored() const {
    core::IniFile file = core::OpenOptionsFile(ConfigFolderText());
    core::ProgramOptions options = core::LoadOptions(file);
    options.Sorting = core::LoadSortOrder(file);
    return options;
  }

  std::ostringstream out_;
  std::ostringstream err_;
};

TEST_F(CliOptionTest, SetsKeysAndStoresThePasswordScrambled) {
  ASSERT_EQ(Run({"SMTPHost=mail.example.org", "smtpport=587", "SMTPPassword=sé cret", "SMTPConnectionType=2",
                 "Col=4", "OutInfo=0"}),
            kExitSuccess)
      << err_.str();
  const core::ProgramOptions stored = Stored();
  EXPECT_EQ(stored.SMTPHost, "mail.example.org");
  EXPECT_EQ(stored.SMTPPort, "587");
  EXPECT_EQ(stored.SMTPPassword, "sé cret");
  EXPECT_EQ(stored.SMTPConnectionType, 2);
  EXPECT_EQ(stored.Sorting.Col, 4);
  EXPECT_FALSE(stored.OutInfo);
  const std::string file = ReadFile(ConfigDir() / "Zentrove.ini");
  EXPECT_EQ(file.find("sé cret"), std::string::npos);
  EXPECT_NE(file.find("SMTPPassword=" + core::ScrambleSmtpPassword("sé cret")), std::string::npos);
}

TEST_F(CliOptionTest, OneBadPairChangesNothing) {
  ASSERT_EQ(Run({"SMTPHost=before"}), kExitSuccess);
  const std::string before = ReadFile(ConfigDir() / "Zentrove.ini");
  EXPECT_EQ(Run({"SMTPHost=after", "CompressionMethod=5"}), kExitUsage);
  EXPECT_EQ(err_.str(),
            "zentrove: \"5\" is not a value of CompressionMethod (0, 1, 3, 4, 6, 7, 8 or 9); nothing was "
            "changed\n");
  EXPECT_EQ(Run({"SMTPHost=after", "NoSuchKey=1"}), kExitUsage);
  EXPECT_EQ(err_.str(), "zentrove: unknown option \"NoSuchKey\"; nothing was changed\n");
  for (const char* bad : {"SMTPPort=0", "SMTPPort=70000", "ShowLogo=2", "FormScale=130",
                          "SMTPUserAddress=a b@c", "TempPath=a\nb", "ZipPriority=x", "SMTPHost"}) {
    EXPECT_EQ(Run({"SMTPHost=after", bad}), kExitUsage) << bad;
  }
  EXPECT_EQ(ReadFile(ConfigDir() / "Zentrove.ini"), before);
}

TEST_F(CliOptionTest, ListingShowsEveryKeyAndHidesPasswords) {
  ASSERT_EQ(Run({"SMTPPassword=secret", "SMTPUser=backup"}), kExitSuccess);
  ASSERT_EQ(Run({}), kExitSuccess);
  const std::string listing = out_.str();
  EXPECT_NE(listing.find("ShowLogo=1\nLanguage=0\n"), std::string::npos) << listing;
  EXPECT_NE(listing.find("SMTPUser=backup\nSMTPPassword=*****\n"), std::string::npos);
  EXPECT_NE(listing.find("PopUpPassword=\n"), std::string::npos);
  EXPECT_NE(listing.find("Sort=0\nCol=1\nSUP=1\n"), std::string::npos);
  EXPECT_EQ(listing.find("secret"), std::string::npos);
}

}  // namespace
}  // namespace zentrove::app
