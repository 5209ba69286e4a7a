#include "engine/zip/zip_name_table.h"

#include <gtest/gtest.h>

#include <string>

namespace zentrove::engine::zip {
namespace {

TEST(NameTableTest, KeepsEachNameOnceAndRefusesItAgainAcrossGrowth) {
  NameTable table;
  std::vector<NameTable::Ref> refs;
  for (int i = 0; i < 5000; ++i) {
    NameTable::Ref ref;
    ASSERT_TRUE(table.Insert("folder/file" + std::to_string(i), ref));
    refs.push_back(ref);
  }
  EXPECT_EQ(table.Count(), 5000u);
  for (int i = 0; i < 5000; i += 499) {
    NameTable::Ref ref;
    EXPECT_FALSE(table.Insert("folder/file" + std::to_string(i), ref)) << i;
    EXPECT_EQ(table.View(refs[i]), "folder/file" + std::to_string(i));
  }
  // Names that share a prefix or differ only in their last byte are different names.
  NameTable::Ref ref;
  EXPECT_TRUE(table.Insert("folder/file1/", ref));
  EXPECT_TRUE(table.Insert("folder/file", ref));
  EXPECT_TRUE(table.Insert(std::string("a\0b", 3), ref));
  EXPECT_EQ(table.View(ref), std::string("a\0b", 3));
  EXPECT_EQ(table.Count(), 5003u);
}

TEST(NameTableTest, LentNamesAreNotCopiedAndCollideWithKeptOnes) {
  const std::vector<std::string> lent{"a/one.txt", "a/two.txt"};
  NameTable table([&lent](std::size_t index) { return std::string_view(lent[index]); });
  NameTable::Ref first;
  ASSERT_TRUE(table.InsertLent(1, first));
  EXPECT_EQ(table.View(first), "a/two.txt");
  EXPECT_EQ(table.View(first).data(), lent[1].data());
  NameTable::Ref ref;
  EXPECT_FALSE(table.Insert("a/two.txt", ref));
  EXPECT_TRUE(table.Insert("a/one.txt", ref));
  EXPECT_FALSE(table.InsertLent(0, ref));
  EXPECT_EQ(table.Count(), 2u);
}

TEST(NameTableTest, AppendedBytesAreKeptButNotEnteredAsNames) {
  NameTable table;
  const NameTable::Ref kept = table.Append("\x81\x94.txt");
  EXPECT_EQ(table.View(kept), "\x81\x94.txt");
  NameTable::Ref ref;
  EXPECT_TRUE(table.Insert("\x81\x94.txt", ref));
  EXPECT_EQ(table.Count(), 1u);
}

}  // namespace
}  // namespace zentrove::engine::zip
