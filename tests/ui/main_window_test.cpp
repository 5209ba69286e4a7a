#include "ui/main_window.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <memory>
#include <thread>

#include "core/options.h"
#include "log/log.h"
#include "support/sandbox.h"
#include "ui/grid_cells.h"
#include "ui/new_task_wizard.h"
#include "ui/ui_test_support.h"

namespace zentrove::ui {
namespace {

using core::TArhRecord;
using testing::FakeUserInterface;
using testing::ProcessUntil;

class FakeEditors final : public TaskEditors {
 public:
  bool RunWizard(QWidget* parent, TArhRecord& task) override {
    ++wizards;
    if (realWizard)
      return RunNewTaskWizard(parent, task, MakeWizardContext(*list, core::ProgramOptions{}, &ui));
    return wizardAnswer;
  }
  bool RunEditor(QWidget*, TArhRecord& task, const QString& caption) override {
    captions.push_back(caption.toStdString());
    if (editorAnswer) task.Description = "edited";
    return editorAnswer;
  }
  void RunOptions(QWidget*) override {}
  void RunArchiverEditor(QWidget*) override {}

  int wizards = 0;
  bool wizardAnswer = false;
  bool realWizard = false;
  core::TArhList* list = nullptr;
  bool editorAnswer = false;
  FakeUserInterface ui;
  std::vector<std::string> captions;
};

class MainWindowTest : public testing::SandboxedTest {
 protected:
  void SetUp() override {
    SandboxedTest::SetUp();
    LogIntoSandbox();
    options = std::make_shared<core::ProgramOptions>();
    options->ShowTips = false;
    list = std::make_unique<core::TArhList>((ConfigDir() / "ArhTasks.bpd").string());
    optionsFile = std::make_unique<core::IniFile>(core::OpenOptionsFile(ConfigFolderText()));

    scheduler::DispatcherServices dispatcherServices;
    dispatcherServices.list = list.get();
    dispatcherServices.ui = &ui;
    dispatcherServices.clock = &clock;
    dispatcherServices.options = [this] { return std::shared_ptr<const core::ProgramOptions>(options); };
    dispatcherServices.scheduleContext = [] { return scheduler::ScheduleContext{}; };
    dispatcherServices.logLine = [](log::LogLevel, int, std::string_view) {};
    dispatcherServices.startRun = [this](core::TArhList&, TArhRecord& task, base::TDateTime,
                                         std::function<void(const engine::RunOutcome&)>) {
      task.IsStarted = true;
      started.push_back(task.TaskNumber);
      return true;
    };
    dispatcher = std::make_unique<scheduler::Dispatcher>(dispatcherServices);

    MainWindowServices services;
    services.optionsFile = optionsFile.get();
    services.dispatcher = [this] { return dispatcher.get(); };
    services.ui = &ui;
    services.exitProgram = [this] { ++exits; };
    services.editors = &editors;
    services.openPath = [this](const std::string& path) { opened.push_back(path); };
    services.options = [this] { return std::shared_ptr<const core::ProgramOptions>(options); };
    services.trayAvailable = [] { return true; };
    window = std::make_unique<MainWindow>(services);
  }

  void TearDown() override {
    window.reset();
    dispatcher.reset();
    SandboxedTest::TearDown();
  }

  TArhRecord& AddTask(const std::string& description) {
    auto task = core::NewTaskRecord();
    task->TaskNumber = list->NextTaskNumber();
    task->Description = description;
    task->IsActive = true;
    list->RaiseCounter(task->TaskNumber);
    return *list->ListAppend(std::move(task));
  }

  std::vector<int> GridNumbers() const {
    std::vector<int> numbers;
    for (int row = 0; row < window->Model()->rowCount(); ++row) {
      numbers.push_back(window->Model()->index(row, kNumberColumn).data().toInt());
    }
    return numbers;
  }

  bool Enabled(Command command) const { return window->Action(command)->isEnabled(); }

  base::FakeClock clock{base::EncodeDate(2024, 3, 5) + base::EncodeTime(8, 0, 0)};
  FakeUserInterface ui;
  FakeEditors editors;
  std::shared_ptr<core::ProgramOptions> options;
  std::unique_ptr<core::TArhList> list;
  std::unique_ptr<core::IniFile> optionsFile;
  std::unique_ptr<scheduler::Dispatcher> dispatcher;
  std::unique_ptr<MainWindow> window;
  std::vector<int> started;
  std::vector<std::string> opened;
  int exits = 0;
};

TEST_F(MainWindowTest, EmptyListShowsOneEmptyRowAndOnlyListFreeCommands) {
  window->AttachList(list.get());
  EXPECT_EQ(window->Model()->rowCount(), 1);
  EXPECT_EQ(window->Model()->TaskAt(0), nullptr);
  EXPECT_FALSE(window->Model()->index(0, kNumberColumn).data().isValid());
  EXPECT_TRUE(Enabled(Command::AAddTask));
  EXPECT_TRUE(Enabled(Command::ALog));
  for (const Command command :
       {Command::ChangeTask, Command::DeleteTask, Command::CopyTask, Command::ExecuteTask, Command::StopTask,
        Command::ExecuteAll, Command::ALogCur, Command::OpenDirect}) {
    EXPECT_FALSE(Enabled(command)) << TextOf(command).caption;
  }
}

TEST_F(MainWindowTest, EnablingRulesFollowTheStateOfTheCurrentTask) {
  TArhRecord& task = AddTask("one");
  window->AttachList(list.get());
  EXPECT_TRUE(Enabled(Command::ChangeTask));
  EXPECT_TRUE(Enabled(Command::ExecuteTask));
  EXPECT_FALSE(Enabled(Command::StopTask));
  EXPECT_FALSE(Enabled(Command::PauseTask));

  task.IsStarted = true;
  window->UpdateCommands();
  EXPECT_FALSE(Enabled(Command::ChangeTask));
  EXPECT_FALSE(Enabled(Command::DeleteTask));
  EXPECT_FALSE(Enabled(Command::ExecuteTask));
  EXPECT_TRUE(Enabled(Command::StopTask));
  EXPECT_TRUE(Enabled(Command::PauseTask));

  // Started and paused: Execute resumes, Pause is done.
  task.PauseTask = true;
  window->UpdateCommands();
  EXPECT_TRUE(Enabled(Command::ExecuteTask));
  EXPECT_TRUE(Enabled(Command::ChainExecute));
  EXPECT_FALSE(Enabled(Command::PauseTask));

  // An external archiver can be neither aborted nor paused.
  task.PauseTask = false;
  task.UseInnerZip = false;
  window->UpdateCommands();
  EXPECT_FALSE(Enabled(Command::StopTask));
  EXPECT_FALSE(Enabled(Command::PauseTask));
}

TEST_F(MainWindowTest, ContextMenuSelectsTheRowUnderThePointerFirst) {
  AddTask("one");
  AddTask("two");
  const TArhRecord& third = AddTask("three");
  window->resize(900, 500);
  window->show();
  window->AttachList(list.get());
  ASSERT_EQ(window->CurrentTask()->TaskNumber, 1001);
  const QRect cell = window->Grid()->visualRect(window->Model()->index(2, kCommentColumn));
  window->GridContextMenu(cell.center(), false);
  ASSERT_NE(window->CurrentTask(), nullptr);
  EXPECT_EQ(window->CurrentTask()->TaskNumber, third.TaskNumber);
  EXPECT_TRUE(window->GridMenu()->actions().contains(window->Action(Command::ALogCur)));
}

TEST_F(MainWindowTest, HeaderClicksSortByTextFlipAndStoreTheKeys) {
  AddTask("b");
  AddTask("c");
  AddTask("a");
  window->AttachList(list.get());

  window->HeaderClicked(kCommentColumn);
  EXPECT_EQ(GridNumbers(), (std::vector<int>{1002, 1001, 1003}));
  EXPECT_TRUE(window->Model()->headerData(kCommentColumn, Qt::Horizontal, Qt::DecorationRole).isValid());
  window->HeaderClicked(kCommentColumn);
  EXPECT_EQ(GridNumbers(), (std::vector<int>{1003, 1001, 1002}));
  ASSERT_TRUE(optionsFile->Load());
  const core::SortOrder stored = core::LoadSortOrder(*optionsFile);
  EXPECT_EQ(stored, (core::SortOrder{true, kCommentColumn, false}));
  EXPECT_NE(testing::ReadFile(ConfigDir() / "Zentrove.ini").find("Sup=0"), std::string::npos);

  // Columns outside 2 to 8 do not sort.
  window->HeaderClicked(kExtraFoldersColumn);
  EXPECT_EQ(GridNumbers(), (std::vector<int>{1003, 1001, 1002}));
  EXPECT_EQ(list->Col, kCommentColumn);
}

TEST_F(MainWindowTest, ClosingHidesTheWindowAndExitAsksFirst) {
  AddTask("one");
  window->AttachList(list.get());
  window->show();
  ASSERT_TRUE(window->isVisible());
  window->close();
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(exits, 0);

  ui.answer = false;
  window->Run(Command::ExitAction);
  ASSERT_EQ(ui.texts, std::vector<std::string>{"Shutdown Zentrove. Are you sure?"});
  EXPECT_EQ(exits, 0);
  ui.answer = true;
  window->Run(Command::ExitAction);
  EXPECT_EQ(exits, 1);

  options->ExitWithoutDlg = true;
  window->Run(Command::ExitAction);
  EXPECT_EQ(exits, 2);
  EXPECT_EQ(ui.texts.size(), 2u);
}

TEST_F(MainWindowTest, FirstActivationShowsTipsAndStartsNewOnAnEmptyList) {
  options->ShowTips = true;
  window->AttachList(list.get());
  window->show();
  QEvent activate(QEvent::WindowActivate);
  QApplication::sendEvent(window.get(), &activate);
  ASSERT_TRUE(ProcessUntil([this] { return editors.wizards > 0; }));
  EXPECT_NE(window->findChild<QDialog*>("TipsWindow"), nullptr);
  // The wizard was cancelled: no task, one empty row, and the number is free again.
  EXPECT_EQ(list->Count(), 0);
  EXPECT_EQ(window->Model()->rowCount(), 1);
  EXPECT_EQ(list->NextTaskNumber(), 1001);
  EXPECT_FALSE(window->DialogOpen());

  // Only the first activation.
  QApplication::sendEvent(window.get(), &activate);
  QApplication::processEvents();
  EXPECT_EQ(editors.wizards, 1);
}

TEST_F(MainWindowTest, NewAddsTheTaskAndOpensTheEditorOnIt) {
  editors.wizardAnswer = true;
  window->AttachList(list.get());
  window->Run(Command::AAddTask);
  ASSERT_EQ(list->Count(), 1);
  EXPECT_EQ(list->Get(0)->Description, "The task # 1001");
  EXPECT_EQ(editors.captions, std::vector<std::string>{"The Task 1001"});
  EXPECT_EQ(window->CurrentTask()->TaskNumber, 1001);
  EXPECT_FALSE(list->Get(0)->IsEdited);
  EXPECT_NE(testing::ReadFile(ConfigDir() / "ArhTasks.bpd").find("[1001]"), std::string::npos);
}

// Plays the user of the wizard that New opens: `steps` runs on it once it is open.
void OnWizard(std::function<void(NewTaskWizard&)> steps) {
  QTimer::singleShot(0, [steps = std::move(steps)] {
    if (auto* wizard = dynamic_cast<NewTaskWizard*>(QApplication::activeModalWidget())) steps(*wizard);
  });
}

TEST_F(MainWindowTest, ACancelledWizardLeavesTheCounterAndTheFileUntouched) {
  ASSERT_TRUE(list->SaveTask(AddTask("one")));
  const std::string file = testing::ReadFile(ConfigDir() / "ArhTasks.bpd");
  editors.realWizard = true;
  editors.list = list.get();
  window->AttachList(list.get());
  OnWizard([](NewTaskWizard& wizard) { wizard.CancelButton()->click(); });
  window->Run(Command::AAddTask);
  EXPECT_EQ(list->Count(), 1);
  EXPECT_EQ(list->Counter(), 1001);
  EXPECT_EQ(testing::ReadFile(ConfigDir() / "ArhTasks.bpd"), file);
  EXPECT_TRUE(editors.captions.empty());
  EXPECT_FALSE(window->DialogOpen());

  OnWizard([](NewTaskWizard& wizard) {
    EXPECT_EQ(wizard.findChild<QComboBox*>("runAfterTask")->currentText(), "1001");
    wizard.Next();
    wizard.Next();
    wizard.findChild<QLineEdit*>("includeFiles")->setText("/data/*.*");
    wizard.Next();
    wizard.findChild<QLineEdit*>("archiveFolder")->setText("/backups");
    for (int page = 4; page <= 6; ++page)
      wizard.Next();
    wizard.DoneButton()->click();
  });
  window->Run(Command::AAddTask);
  ASSERT_EQ(list->Count(), 2);
  EXPECT_EQ(list->Get(1)->TaskNumber, 1002);
  EXPECT_EQ(list->Get(1)->Target, "/backups");
  EXPECT_EQ(list->Get(1)->Description, "The task # 1002");
  EXPECT_EQ(editors.captions, std::vector<std::string>{"The Task 1002"});
  EXPECT_NE(testing::ReadFile(ConfigDir() / "ArhTasks.bpd").find("[1002]"), std::string::npos);
}

TEST_F(MainWindowTest, EditStoresTheEditorsCopyOnlyOnOk) {
  TArhRecord& task = AddTask("one");
  window->AttachList(list.get());
  window->Run(Command::ChangeTask);
  EXPECT_EQ(task.Description, "one");
  editors.editorAnswer = true;
  window->Run(Command::ChangeTask);
  EXPECT_EQ(task.Description, "edited");
  EXPECT_FALSE(task.IsEdited);
  EXPECT_NE(testing::ReadFile(ConfigDir() / "ArhTasks.bpd").find("Description=edited"), std::string::npos);
  EXPECT_EQ(editors.captions, (std::vector<std::string>{"The Task 1001", "The Task 1001"}));
}

TEST_F(MainWindowTest, DuplicateCopiesTheTaskAndItsTextAndOpensTheEditor) {
  TArhRecord& task = AddTask("one");
  task.SendEMail = true;
  WriteFile("config/1001.bdy", "Dear admin");
  window->AttachList(list.get());
  window->Run(Command::CopyTask);
  ASSERT_EQ(list->Count(), 2);
  EXPECT_EQ(list->Get(1)->Description, "The task # 1002");
  EXPECT_TRUE(list->Get(1)->SendEMail);
  EXPECT_EQ(testing::ReadFile(ConfigDir() / "1002.bdy"), "Dear admin");
  EXPECT_EQ(editors.captions, std::vector<std::string>{"The Task 1002"});
  EXPECT_EQ(window->CurrentTask()->TaskNumber, 1002);
  EXPECT_FALSE(window->DialogOpen());
}

TEST_F(MainWindowTest, DeleteAsksAndRemovesTheTaskFromListAndFile) {
  TArhRecord& task = AddTask("one");
  ASSERT_TRUE(list->SaveTask(task));
  WriteFile("config/1001.bdy", "text");
  window->AttachList(list.get());
  window->Run(Command::DeleteTask);
  EXPECT_EQ(ui.texts, std::vector<std::string>{"Delete The Task 1001 ?"});
  EXPECT_EQ(list->Count(), 0);
  EXPECT_EQ(window->Model()->rowCount(), 1);
  EXPECT_EQ(testing::ReadFile(ConfigDir() / "ArhTasks.bpd").find("[1001]"), std::string::npos);
  // A later task 1001 does not send this task's text.
  EXPECT_FALSE(std::filesystem::exists(ConfigDir() / "1001.bdy"));
  EXPECT_EQ(testing::ReadFile(ConfigDir() / "1001.bdy.bak"), "text");
}

TEST_F(MainWindowTest, LogPaneKeepsNewestOnTopInLevelColoursWithinTheLimit) {
  log::LogSettings settings = log::GetLogSettings();
  settings.MaxLogCount = 3;
  log::SetLogSettings(settings);
  for (int i = 1; i <= 5; ++i)
    window->AppendLogLine("line " + std::to_string(i), i % 2 == 0 ? 255 : 16711680);
  LogPane* pane = window->Pane();
  ASSERT_EQ(pane->document()->blockCount(), 3);
  EXPECT_EQ(pane->ShownText(0), "line 5");
  EXPECT_EQ(pane->ShownText(2), "line 3");
  EXPECT_EQ(pane->ShownColour(0), QColor(0, 0, 255));  // 16711680 is blue
  EXPECT_EQ(pane->ShownColour(1), QColor(255, 0, 0));  // 255 is red
  EXPECT_EQ(pane->Lines().Size(), 3u);

  settings.MaxLogCount = 1;
  log::SetLogSettings(settings);
  window->AppendLogLine("newest", 0);
  EXPECT_EQ(pane->document()->blockCount(), 1);
  EXPECT_EQ(pane->ShownText(0), "newest");
}

TEST_F(MainWindowTest, RefreshesFromAWorkerAreCoalescedPerInterval) {
  TArhRecord& task = AddTask("one");
  window->AttachList(list.get());
  list->SetView(window->View());
  QSignalSpy changes(window->Model(), &QAbstractItemModel::dataChanged);
  std::thread worker([&] {
    for (int i = 0; i < 5000; ++i)
      list->RefreshRow(task);
  });
  worker.join();
  ASSERT_TRUE(ProcessUntil([&] { return changes.count() > 0; }));
  QTest::qWait(3 * static_cast<int>(TaskTableModel::kRefreshInterval.count()));
  EXPECT_EQ(window->Model()->RefreshPasses(), 1);
  EXPECT_EQ(changes.count(), 1);
}

TEST_F(MainWindowTest, RunPromptOpenWhileTheTaskStartsOnItsOwnStartsItOnce) {
  TArhRecord& task = AddTask("one");
  window->AttachList(list.get());
  ui.defer = true;
  window->Run(Command::ExecuteTask);
  ASSERT_EQ(ui.texts, std::vector<std::string>{"Execute the Task #1001 immediately?"});
  // The question is open and the dispatcher goes on: the task falls due and starts.
  task.NextArh = clock.Now();
  dispatcher->DispatcherTick();
  ASSERT_EQ(started, std::vector<int>{1001});
  ui.AnswerPending(true);
  EXPECT_EQ(started, std::vector<int>{1001});

  // Deleted while the question is open: the answer finds nothing to start.
  task.IsStarted = false;
  task.NextArh = 0;
  window->Run(Command::ExecuteTask);
  std::unique_ptr<TArhRecord> removed = list->ListRemoveAt(0);
  ui.AnswerPending(true);
  EXPECT_EQ(started, std::vector<int>{1001});
}

TEST_F(MainWindowTest, AShowRequestAsksForTheAccessPasswordIgnoringCase) {
  options->PopUpPassword = "Secret";
  window->AttachList(list.get());
  const auto passwordDialog = [] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (widget->objectName() == "PasswordDialog" && widget->isVisible())
        return qobject_cast<QDialog*>(widget);
    }
    return static_cast<QDialog*>(nullptr);
  };
  const auto answer = [&](const QString& entry) {
    QDialog* dialog = passwordDialog();
    EXPECT_NE(dialog, nullptr);
    if (dialog == nullptr) return;
    EXPECT_EQ(dialog->windowTitle(), "Zentrove: Password Check");
    dialog->findChild<QLineEdit*>()->setText(entry);
    dialog->accept();
    QApplication::processEvents();
  };
  window->ShowRequested();
  EXPECT_FALSE(window->isVisible());
  answer("wrong");
  EXPECT_FALSE(window->isVisible());
  window->ShowRequested();
  answer("SECRET");
  EXPECT_TRUE(window->isVisible());
}

TEST_F(MainWindowTest, WindowStateIsSavedAndAppliedAgain) {
  window->AttachList(list.get());
  window->Grid()->setColumnWidth(kCommentColumn, 140);
  window->SaveWindowState();
  ASSERT_TRUE(optionsFile->Load());
  core::ProgramOptions loaded = core::LoadOptions(*optionsFile);
  EXPECT_EQ(loaded.Window.G[kCommentColumn], 140);
  EXPECT_EQ(loaded.Window.State, 0);
  EXPECT_EQ(loaded.Window.Width, window->width());

  loaded.Window.G[kCommentColumn] = 77;
  loaded.Window.G[kSourceColumn] = -1;
  MainWindowServices services;
  services.trayAvailable = [] { return true; };
  MainWindow restored(services);
  restored.ApplyOptions(loaded);
  EXPECT_EQ(restored.Grid()->columnWidth(kCommentColumn), 77);
  EXPECT_EQ(restored.Grid()->columnWidth(kSourceColumn), DesignColumnWidth(kSourceColumn));
}

}  // namespace
}  // namespace zentrove::ui
