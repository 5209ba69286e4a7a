#include "ui/mask_dialogs.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include "ui/ui_test_support.h"

namespace zentrove::ui {
namespace {

using testing::ProcessUntil;

std::vector<std::string> Texts(const QListWidget& list) {
  std::vector<std::string> texts;
  for (int row = 0; row < list.count(); ++row)
    texts.push_back(list.item(row)->text().toStdString());
  return texts;
}

QPushButton* Button(const QWidget& dialog, const QString& caption) {
  for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
    if (button->text() == caption) return button;
  }
  return nullptr;
}

class MaskDialogsTest : public testing::HomeSandboxTest {
 protected:
  // The mask the wildcard dialog was opened with, and what it answers.
  WildcardAsk Answer(std::optional<std::string> answer) {
    return [this, answer](QWidget*, const std::string& folder, const std::string& mask) {
      asked.emplace_back(folder, mask);
      return answer;
    };
  }
  std::vector<std::pair<std::string, std::string>> asked;
};

TEST_F(MaskDialogsTest, EntriesSplitAtSemicolonsAndJoinWithoutATrailingOne) {
  EditMaskDialog dialog(nullptr, true, "/d/*.doc;/e/*.*", false);
  EXPECT_EQ(dialog.windowTitle(), "Include in archive");
  EXPECT_EQ(Texts(*dialog.EntryList()), (std::vector<std::string>{"/d/*.doc", "/e/*.*"}));
  EXPECT_EQ(dialog.EntryList()->currentRow(), 0);
  EXPECT_TRUE(Button(dialog, "Edit")->isEnabled());

  dialog.RemoveCurrent();
  EXPECT_EQ(dialog.List(), "/e/*.*");
  EXPECT_EQ(dialog.EntryList()->currentRow(), 0);
  dialog.RemoveCurrent();
  EXPECT_EQ(dialog.List(), "");
  EXPECT_FALSE(Button(dialog, "Edit")->isEnabled());
  EXPECT_FALSE(Button(dialog, "Remove")->isEnabled());

  EditMaskDialog exclude(nullptr, false, "", false);
  EXPECT_EQ(exclude.windowTitle(), "Exclude from archive");
}

TEST_F(MaskDialogsTest, AddTakesAFolderWithItsMaskOrAFileAsItIs) {
  const std::string data = MakeDir("home/data").string();
  WriteFile("home/data/report.txt", "x");
  EditMaskDialog dialog(nullptr, true, "/old/*.*", false);

  dialog.SetWildcardAsk(Answer(std::nullopt));
  ASSERT_TRUE(dialog.SelectPath(data));
  dialog.Add();
  EXPECT_EQ(dialog.List(), "/old/*.*");

  dialog.SetWildcardAsk(Answer("*.txt"));
  dialog.Add();
  ASSERT_TRUE(dialog.SelectPath(data + "/report.txt"));
  dialog.Add();
  EXPECT_EQ(Texts(*dialog.EntryList()),
            (std::vector<std::string>{"/old/*.*", data + "/*.txt", data + "/report.txt"}));
  EXPECT_EQ(dialog.EntryList()->currentRow(), 2);
  EXPECT_EQ(asked, (std::vector<std::pair<std::string, std::string>>{{data, "*.*"}, {data, "*.*"}}));

  // The root gives "/*.txt", not a network path.
  ASSERT_TRUE(dialog.SelectPath("/"));
  dialog.Add();
  EXPECT_EQ(Texts(*dialog.EntryList()).back(), "/*.txt");
}

TEST_F(MaskDialogsTest, EditKeepsTheFolderOfAnEntryAndAMaskWithoutOne) {
  const std::string data = MakeDir("home/data").string();
  EditMaskDialog dialog(nullptr, false, data + "/*.doc;/gone/*.doc;*.tmp", false);
  dialog.SetWildcardAsk(Answer("*.log"));
  for (int row = 0; row < 3; ++row) {
    dialog.EntryList()->setCurrentRow(row);
    dialog.EditCurrent();
  }
  EXPECT_EQ(asked, (std::vector<std::pair<std::string, std::string>>{
                       {data + "/", "*.doc"}, {"/gone/", "*.*"}, {"", "*.tmp"}}));
  EXPECT_EQ(dialog.List(), data + "/*.log;/gone/*.log;*.log");
}

TEST_F(MaskDialogsTest, TheTreeStartsAtTheRootInServiceModeAndAtHomeOtherwise) {
  EditMaskDialog service(nullptr, true, "", true);
  ASSERT_EQ(service.Tree()->topLevelItemCount(), 1);
  EXPECT_EQ(service.Tree()->topLevelItem(0)->text(0), "/");

  EditMaskDialog desktop(nullptr, true, "", false);
  ASSERT_EQ(desktop.Tree()->topLevelItemCount(), 2);
  EXPECT_EQ(desktop.Tree()->topLevelItem(0)->text(0).toStdString(), Home());
  EXPECT_TRUE(desktop.Tree()->topLevelItem(0)->isExpanded());
  EXPECT_EQ(desktop.Tree()->topLevelItem(1)->text(0), "/");
}

TEST_F(MaskDialogsTest, CancelLeavesTheListAsItWas) {
  std::string list = "/a/*.*;/b/*.*";
  QTimer::singleShot(0, [] {
    auto* dialog = dynamic_cast<EditMaskDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    dialog->RemoveCurrent();
    dialog->reject();
  });
  EXPECT_FALSE(RunEditMaskDialog(nullptr, true, list, false));
  EXPECT_EQ(list, "/a/*.*;/b/*.*");
}

TEST_F(MaskDialogsTest, WildcardListsMatchingFilesHiddenOnesIncludedAndTakesAClickedName) {
  const std::string folder = MakeDir("home/files").string();
  WriteFile("home/files/a.txt", "a");
  WriteFile("home/files/.hidden.txt", "h");
  WriteFile("home/files/b.doc", "b");
  MakeDir("home/files/folder.txt");
  WildcardMaskDialog dialog(nullptr, folder, "*.txt");
  EXPECT_EQ(dialog.windowTitle(), "Wildcard mask select");
  EXPECT_EQ(Texts(*dialog.FileList()), (std::vector<std::string>{".hidden.txt", "a.txt"}));

  QListWidget& files = *dialog.FileList();
  emit files.itemClicked(files.item(1));
  EXPECT_EQ(dialog.Mask(), "a.txt");
  ASSERT_TRUE(ProcessUntil([&] { return files.count() == 1; }));

  Button(dialog, "*.*")->click();
  ASSERT_TRUE(ProcessUntil([&] { return files.count() == 3; }));
  EXPECT_EQ(dialog.Mask(), "*.*");

  // A blank mask would make an entry of the bare folder.
  dialog.MaskBox()->setText("  ");
  ASSERT_TRUE(ProcessUntil([&] { return files.count() == 0; }));
  EXPECT_FALSE(Button(dialog, "Ok")->isEnabled());
  dialog.MaskBox()->setText(" *.doc ");
  ASSERT_TRUE(ProcessUntil([&] { return files.count() == 1; }));
  EXPECT_EQ(dialog.Mask(), "*.doc");
  EXPECT_TRUE(Button(dialog, "Ok")->isEnabled());
}

}  // namespace
}  // namespace zentrove::ui
