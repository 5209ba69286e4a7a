#include "ui/archiver_editor.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "support/sandbox.h"
#include "ui/ui_test_support.h"

namespace zentrove::ui {
namespace {

using testing::FakeUserInterface;
using zentrove::testing::ReadFile;

// The editor with its file dialogs answered by the test.
class ScriptedEditor final : public ArchiverEditor {
 public:
  using ArchiverEditor::ArchiverEditor;
  std::string savePath;
  int saveQuestions = 0;

 protected:
  std::string AskOpenPath() override { return {}; }
  std::string AskSavePath() override {
    ++saveQuestions;
    return savePath;
  }
};

class ArchiverEditorTest : public zentrove::testing::SandboxedTest {
 protected:
  void Click(QWidget& window, const QString& caption) {
    for (QPushButton* button : window.findChildren<QPushButton*>()) {
      if (button->text() == caption) {
        button->click();
        return;
      }
    }
    ADD_FAILURE() << "no button " << caption.toStdString();
  }
  FakeUserInterface ui_;
};

TEST_F(ArchiverEditorTest, FailedLoadThenSaveAsksForANameAndLeavesThatFileAlone) {
  const std::string binary = std::string("7z\xbc\xaf", 4) + '\0' + "[Options]\r\n";
  const auto unreadable = WriteFile("config/Backup.7z", binary);
  ScriptedEditor editor(nullptr, {ConfigFolderText(), &ui_});
  editor.Box("Ext")->setText("typed before");

  editor.OpenFile(unreadable.string());

  ASSERT_EQ(ui_.texts.size(), 1u);
  EXPECT_NE(ui_.texts[0].find("not an archiver configuration"), std::string::npos) << ui_.texts[0];
  EXPECT_EQ(editor.windowTitle(), "Configuration file is not open");
  EXPECT_EQ(editor.Box("ParamStr")->text().toStdString(), engine::StartingArchiverConfig().ParamStr);
  EXPECT_EQ(editor.Box("Ext")->text(), "");

  editor.Box("Ext")->setText("rar");
  editor.CodePageBox()->setCurrentIndex(1);
  editor.savePath = ConfigFolderText() + "Rar";
  Click(editor, "Save");

  EXPECT_EQ(editor.saveQuestions, 1);
  EXPECT_EQ(ReadFile(unreadable), binary);
  const std::string saved = ConfigFolderText() + "Rar.emc";
  EXPECT_EQ(editor.windowTitle().toStdString(), "Configuration file " + saved);
  const engine::TExtArhInfo written = engine::ParseArchiverConfig(ReadFile(saved));
  EXPECT_EQ(written.Ext, "rar");
  EXPECT_EQ(written.ListCodePage, 1);

  // Now there is a current file: Save writes into it without asking.
  editor.Box("Comment")->setText("second");
  Click(editor, "Save");
  EXPECT_EQ(editor.saveQuestions, 1);
  EXPECT_EQ(engine::ParseArchiverConfig(ReadFile(saved)).Comment, "second");
}

TEST_F(ArchiverEditorTest, SaveAsAsksBeforeReplacingAFileAndClearForgetsTheFile) {
  WriteFile("config/zip.emc", "[Options]\r\nExt=\"zip\"\r\n");
  ScriptedEditor editor(nullptr, {ConfigFolderText(), &ui_});
  editor.savePath = ConfigFolderText() + "zip";
  ui_.answer = false;

  EXPECT_FALSE(editor.SaveAs());

  ASSERT_EQ(ui_.texts.size(), 1u);
  EXPECT_NE(ui_.texts[0].find("zip.emc already exists"), std::string::npos);
  EXPECT_EQ(ReadFile(ConfigDir() / "zip.emc"), "[Options]\r\nExt=\"zip\"\r\n");

  editor.OpenFile(ConfigFolderText() + "zip.emc");
  EXPECT_EQ(editor.Box("Ext")->text(), "zip");
  Click(editor, "Clear");
  EXPECT_EQ(editor.windowTitle(), "Configuration file is not open");
  EXPECT_EQ(editor.Box("Ext")->text(), "");
  EXPECT_EQ(editor.Box("PasswordSw")->text(), "[Password]");
}

}  // namespace
}  // namespace zentrove::ui
