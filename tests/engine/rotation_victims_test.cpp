#include <gtest/gtest.h>

#include "engine/destinations.h"

namespace zentrove::engine {
namespace {

std::vector<std::string> Names(const std::vector<ListRec>& records) {
  std::vector<std::string> names;
  for (const ListRec& record : records)
    names.push_back(record.name);
  return names;
}

const base::TDateTime kNow = base::EncodeDate(2024, 3, 31) + base::EncodeTime(12, 0, 0);

TEST(RotationVictims, ByCountTheNewestStayAndTheNewBackupCountsAmongThem) {
  const std::vector<ListRec> candidates = {
      {"a", kNow - 5}, {"new", kNow}, {"b", kNow - 1}, {"c", kNow - 3}, {"d", kNow - 2}};
  EXPECT_EQ(Names(ChooseRotationVictims(candidates, "new", kNow, 0, 3)),
            (std::vector<std::string>{"c", "a"}));
  EXPECT_TRUE(ChooseRotationVictims(candidates, "new", kNow, 0, 0).empty());
}

TEST(RotationVictims, UnknownDatesAreKeptAndTheNewBackupIsNeverChosen) {
  const std::vector<ListRec> candidates = {
      {"unknown", 0}, {"new", kNow - 40}, {"old", kNow - 30}, {"x", kNow - 1}};
  EXPECT_EQ(Names(ChooseRotationVictims(candidates, "new", kNow, 0, 1)), (std::vector<std::string>{"old"}));
  EXPECT_EQ(Names(ChooseRotationVictims(candidates, "new", kNow, 1, 7)), (std::vector<std::string>{"old"}));
}

TEST(RotationVictims, ByMonthsTheLimitIsCutToTheEndOfAShorterMonth) {
  const std::vector<ListRec> candidates = {
      {"feb29", base::EncodeDate(2024, 2, 29) + base::EncodeTime(13, 0, 0)},
      {"feb28", base::EncodeDate(2024, 2, 28)}};
  EXPECT_EQ(Names(ChooseRotationVictims(candidates, "", kNow, 2, 1)), (std::vector<std::string>{"feb28"}));
}

}  // namespace
}  // namespace zentrove::engine
