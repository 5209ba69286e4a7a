#include "platform/power.h"

#include <gtest/gtest.h>

namespace zentrove::platform {
namespace {

TEST(SystemPowerTest, TheRealOneIsCurrentUntilAFakeIsSet) {
  EXPECT_NE(dynamic_cast<RealSystemPower*>(&CurrentSystemPower()), nullptr);
  FakeSystemPower fake;
  SetCurrentSystemPower(&fake);
  EXPECT_EQ(&CurrentSystemPower(), &fake);
  EXPECT_TRUE(CurrentSystemPower().Perform(PowerAction::Restart).Ok());
  EXPECT_TRUE(CurrentSystemPower().Perform(PowerAction::LogOff).Ok());
  EXPECT_TRUE(CurrentSystemPower().Shutdown().Ok());
  SetCurrentSystemPower(nullptr);
  EXPECT_NE(dynamic_cast<RealSystemPower*>(&CurrentSystemPower()), nullptr);
  EXPECT_EQ(fake.Calls(),
            (std::vector<PowerAction>{PowerAction::Restart, PowerAction::LogOff, PowerAction::Shutdown}));
}

TEST(SystemPowerTest, AFakeCanRefuse) {
  FakeSystemPower refusing(Status::Failure(1, "Access denied"));
  const Status status = refusing.Perform(PowerAction::Shutdown);
  EXPECT_FALSE(status.Ok());
  EXPECT_EQ(status.Message(), "Access denied");
  EXPECT_EQ(refusing.Calls().size(), 1u);
}

}  // namespace
}  // namespace zentrove::platform
