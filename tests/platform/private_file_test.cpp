#include "platform/private_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "platform/files.h"
#include "platform_test_util.h"
#include "support/sandbox.h"

namespace zentrove::platform {
namespace {

class PrivateFileTest : public zentrove::testing::SandboxedTest {
 protected:
  void SetUp() override {
    SandboxedTest::SetUp();
    runtime_ = MakeDir("runtime");
    runtimeVariable_.emplace("XDG_RUNTIME_DIR", runtime_.string());
  }
  void TearDown() override {
    runtimeVariable_.reset();
    SandboxedTest::TearDown();
  }
  std::filesystem::path runtime_;
  std::optional<zentrove::testing::EnvGuard> runtimeVariable_;
};

TEST_F(PrivateFileTest, OnlyTheOwnerMayReadItAndItGoesWithTheObject) {
  std::string path;
  {
    auto file = PrivateFile::Create("zentrove-password", "pass word");
    ASSERT_TRUE(file.Ok()) << file.Message();
    path = file->Path();
    EXPECT_EQ(std::filesystem::path(path).parent_path(), runtime_);
    EXPECT_EQ(Stat(path).mode, 0600u);
    EXPECT_EQ(zentrove::testing::ReadFile(path), "pass word");
    PrivateFile moved = std::move(*file);
    EXPECT_EQ(moved.Path(), path);
  }
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_TRUE(std::filesystem::is_empty(runtime_));
}

}  // namespace
}  // namespace zentrove::platform
