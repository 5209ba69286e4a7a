#include "platform/environment.h"

#include <sys/stat.h>
#include <unistd.h>

#include <map>

#include "platform/files.h"
#include "platform_test_util.h"
#include "support/sandbox.h"

namespace zentrove::platform {
namespace {

using zentrove::testing::EnvGuard;

std::string Expand(std::string_view text) {
  static const std::map<std::string, std::string> kVariables = {{"TEMP", "/var/tmp"},
                                                                {"HOME", "/home/ann"},
                                                                {"EMPTY", ""},
                                                                {"ProgramFiles(x86)", "/opt"},
                                                                {"A B", "blank"}};
  return ExpandEnvironment(text, [](const std::string& name) -> std::optional<std::string> {
    const auto found = kVariables.find(name);
    if (found == kVariables.end()) return std::nullopt;
    return found->second;
  });
}

TEST(ExpandEnvironmentTest, ReplacesKnownPercentAndBraceReferences) {
  EXPECT_EQ(Expand("%TEMP%/*.log"), "/var/tmp/*.log");
  EXPECT_EQ(Expand("${HOME}/docs;%TEMP%"), "/home/ann/docs;/var/tmp");
  EXPECT_EQ(Expand("a%EMPTY%b"), "ab");
  EXPECT_EQ(Expand("%ProgramFiles(x86)%/tool"), "/opt/tool");
  EXPECT_EQ(Expand("%A B%"), "blank");
  EXPECT_EQ(Expand("%TEMP%%HOME%"), "/var/tmp/home/ann");
}

TEST(ExpandEnvironmentTest, LeavesUnknownReferencesAndOtherDollarsAlone) {
  EXPECT_EQ(Expand("%NOPE%/x"), "%NOPE%/x");
  EXPECT_EQ(Expand("${NOPE}/x"), "${NOPE}/x");
  EXPECT_EQ(Expand("$HOME/x"), "$HOME/x");
  EXPECT_EQ(Expand("/data/$RECYCLE.BIN/${HOME"), "/data/$RECYCLE.BIN/${HOME");
  EXPECT_EQ(Expand("${HO-ME}"), "${HO-ME}");
  EXPECT_EQ(Expand("%%"), "%%");
  EXPECT_EQ(Expand("%"), "%");
  EXPECT_EQ(Expand("%A=B%"), "%A=B%");
  EXPECT_EQ(Expand(""), "");
}

TEST(ExpandEnvironmentTest, AnUnknownPercentLetsTheNextOneStartAReference) {
  EXPECT_EQ(Expand("100% in %TEMP%"), "100% in /var/tmp");
  EXPECT_EQ(Expand("%NOPE%TEMP%"), "%NOPE/var/tmp");
}

TEST(ExpandEnvironmentTest, ReadsTheProcessEnvironment) {
  EnvGuard variable("ZENTROVE_TEST_VALUE", std::string("/x y"));
  EXPECT_EQ(ExpandEnvironment("%ZENTROVE_TEST_VALUE%/a"), "/x y/a");
  EXPECT_EQ(GetEnv("ZENTROVE_TEST_VALUE"), "/x y");
  EXPECT_EQ(ExpandEnvironment("%zentrove_test_value%|${Zentrove_Test_Value}"), "/x y|/x y")
      << "names match in any letter case, as on Windows";
  EnvGuard missing("ZENTROVE_TEST_VALUE", std::nullopt);
  EXPECT_EQ(ExpandEnvironment("%zentrove_test_value%"), "%zentrove_test_value%");
  EXPECT_EQ(GetEnv("ZENTROVE_TEST_VALUE"), std::nullopt);
}

TEST(FoldersTest, ProgramFolderIsTheFolderOfTheExecutable) {
  const std::string folder = ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
  EXPECT_EQ(folder.front(), '/');
  EXPECT_EQ(StatFollow(folder + "platform_tests").kind, FileKind::File);
}

TEST(FoldersTest, ConfigBaseFolderPrefersTheOverrideThenXdg) {
  EnvGuard home("HOME", std::string("/home/ann/"));
  {
    EnvGuard config("ZENTROVE_CONFIG_DIR", std::string("/tmp/cfg"));
    EXPECT_EQ(ConfigBaseFolder(), "/tmp/cfg/");
  }
  EnvGuard noOverride("ZENTROVE_CONFIG_DIR", std::nullopt);
  {
    EnvGuard xdg("XDG_CONFIG_HOME", std::string("/home/ann/cfg"));
    EXPECT_EQ(ConfigBaseFolder(), "/home/ann/cfg/Zentrove/");
  }
  {
    EnvGuard relative("XDG_CONFIG_HOME", std::string("relative"));
    EXPECT_EQ(ConfigBaseFolder(), "/home/ann/.config/Zentrove/") << "a relative XDG value is invalid";
  }
  EnvGuard noXdg("XDG_CONFIG_HOME", std::nullopt);
  EXPECT_EQ(ConfigBaseFolder(), "/home/ann/.config/Zentrove/");
  EXPECT_EQ(HomeFolder(), "/home/ann");
}

TEST(FoldersTest, RuntimeFolderFallsBackToAPrivateFolderInTmp) {
  {
    EnvGuard runtime("XDG_RUNTIME_DIR", std::string("/run/user/1000"));
    EXPECT_EQ(*RuntimeFolder(), "/run/user/1000/");
  }
  EnvGuard noRuntime("XDG_RUNTIME_DIR", std::nullopt);
  const auto folder = RuntimeFolder();
  ASSERT_TRUE(folder.Ok()) << folder.Message();
  EXPECT_EQ(*folder, "/tmp/zentrove-" + std::to_string(getuid()) + "/");
  const FileInfo info = Stat(*folder);
  EXPECT_EQ(info.kind, FileKind::Folder);
  EXPECT_EQ(info.mode & 0777, 0700u);
  EXPECT_EQ(info.uid, getuid());
}

TEST(SessionNameTest, NamesTheSessionSafelyForAFileName) {
  {
    EnvGuard session("XDG_SESSION_ID", std::string("c2"));
    EXPECT_EQ(SessionName(SessionKind::Desktop), "c2");
    EXPECT_EQ(SessionName(SessionKind::Service), "service");
  }
  {
    EnvGuard hostile("XDG_SESSION_ID", std::string("../x/y"));
    EXPECT_EQ(SessionName(SessionKind::Desktop), "..xy");
  }
  {
    EnvGuard dots("XDG_SESSION_ID", std::string(".."));
    EXPECT_EQ(SessionName(SessionKind::Desktop), "default");
  }
  EnvGuard none("XDG_SESSION_ID", std::nullopt);
  EXPECT_EQ(SessionName(SessionKind::Desktop), "default");
}

}  // namespace
}  // namespace zentrove::platform
