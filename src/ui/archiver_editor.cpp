#include "ui/archiver_editor.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <filesystem>

#include "core/user_interface.h"
#include "ui/qt_text.h"

namespace zentrove::ui {
namespace {

struct BoxSpec {
  const char* key;
  const char* label;
  const char* hint = nullptr;
};

const QString kConfigFilter = "External archiver configuration (*.EMC *.emc)";

}  // namespace

ArchiverEditor::ArchiverEditor(QWidget* parent, ArchiverEditorContext context)
    : QDialog(parent), context_(std::move(context)) {
  setObjectName("TExtArhDlg");
  setModal(true);

  const auto addBoxes = [this](QFormLayout* form, std::initializer_list<BoxSpec> specs) {
    for (const BoxSpec& spec : specs) {
      auto* box = new QLineEdit(this);
      box->setObjectName(spec.key);
      if (spec.hint != nullptr) box->setToolTip(spec.hint);
      form->addRow(spec.label, box);
      boxes_.emplace_back(spec.key, box);
    }
  };
  const auto group = [this](const char* caption) {
    auto* box = new QGroupBox(caption, this);
    auto* form = new QFormLayout(box);
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    return std::pair{box, form};
  };

  auto [generic, genericForm] = group("Generic Parameters");
  auto* command = new QLineEdit(this);
  command->setObjectName("Command");
  command->setToolTip("Command Line to Start External Archivator");
  boxes_.emplace_back("Command", command);
  auto* browse = new QToolButton(this);
  browse->setText("...");
  auto* commandRow = new QHBoxLayout;
  commandRow->addWidget(command);
  commandRow->addWidget(browse);
  genericForm->addRow("Command Line", commandRow);
  connect(browse, &QToolButton::clicked, this, [this, command] {
    const QString chosen =
        QFileDialog::getOpenFileName(this, "Command Line", command->text(), "All files (*)");
    if (!chosen.isEmpty()) command->setText(chosen);
  });
  addBoxes(genericForm, {{"ParamStr", "Parameters", "Parameters for execution the external archiver"},
                         {"Ext", "Archive file extension"}});
  codePage_ = new QComboBox(this);
  codePage_->setObjectName("ListCodePage");
  codePage_->addItems({"ANSI (Windows)", "OEM (DOS)"});
  genericForm->addRow("File List Code Page", codePage_);

  auto [commands, commandsForm] = group("Archive commands");
  addBoxes(commandsForm, {{"ReplaceCommand", "Replace"},
                          {"UpdateCommand", "Update"},
                          {"FreshCommand", "Update Files\nin archive (Refresh)"}});

  auto [creation, creationForm] = group("Archive Creation Parameters");
  addBoxes(creationForm,
           {{"IncludeSw", "Include in Archive", "Switch: Include in archive"},
            {"ExcludeSw", "Exclude Files", "Switch: Exclude from archive"},
            {"RecurseSw", "Recurse", "Switch: Recurse subdirectories (-R for example)"},
            {"NoRecurseSw", "No Recurse"},
            {"AddWithArchiveAttr", "Use Archive Attribute"},
            {"ClearArchiveAttr", "Clear Archive Attribute"},
            {"SetTmpDir", "Temporary directory", "Switch for Temp directory Setting"},
            {"PasswordSw", "Password", "Switch for Password setting"},
            {"PasswordInputSw", "Password from input",
             "Switch for a Password the archiver reads from its standard input, kept off its command line"},
            {"DeleteOriginalFile", "Delete files\nafter archiving"},
            {"SaveNTFSRights", "Save NTFS rights"}});

  auto [compression, compressionForm] = group("Compression level");
  addBoxes(compressionForm, {{"CompressStore", "Do not archive"},
                             {"CompressFastest", "Fastest"},
                             {"CompressFaster", "Faster"},
                             {"CompressFast", "Fast"},
                             {"CompressNormal", "Normal "},
                             {"CompressSlow", "Slowly"},
                             {"CompressSlower", "Slower"},
                             {"CompressSlowest", "Maximum"}});

  auto [priority, priorityForm] = group("Priority Parameters");
  addBoxes(priorityForm, {{"PriorityIdle", "Idle"},
                          {"PriorityLowest", "Lowest"},
                          {"PriorityLower", "Lower"},
                          {"PriorityNormal", "Normal"},
                          {"PriorityHiger", "Higer"},
                          {"PriorityHigest", "Higest"}});

  auto* commentForm = new QFormLayout;
  addBoxes(commentForm, {{"Comment", "Comment", "Comment to the File"}});

  auto* columns = new QGridLayout;
  columns->addWidget(generic, 0, 0, 1, 2);
  columns->addWidget(commands, 1, 0);
  columns->addWidget(priority, 1, 1);
  columns->addWidget(creation, 2, 0);
  columns->addWidget(compression, 2, 1);
  columns->setColumnStretch(0, 3);
  columns->setColumnStretch(1, 2);

  auto* buttons = new QHBoxLayout;
  const auto addButton = [this, buttons](const char* caption, const char* hint, auto action) {
    auto* button = new QPushButton(caption, this);
    button->setAutoDefault(false);
    if (hint != nullptr) button->setToolTip(hint);
    connect(button, &QPushButton::clicked, this, action);
    buttons->addWidget(button);
  };
  addButton("Open", "Open Configuration File", [this] {
    const std::string path = AskOpenPath();
    if (!path.empty()) OpenFile(path);
  });
  addButton("Save", "Save Configuration File", [this] { Save(); });
  addButton("Save as...", "Save Configuration File with another File Name", [this] { SaveAs(); });
  addButton("Clear", "New Configuration File", [this] { Clear(); });
  buttons->addStretch();
  addButton("Exit", nullptr, [this] { reject(); });

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(columns);
  layout->addLayout(commentForm);
  layout->addLayout(buttons);
  resize(980, sizeHint().height());
  ShowDocument();
}

QLineEdit* ArchiverEditor::Box(std::string_view key) const {
  for (const auto& [name, box] : boxes_) {
    if (name == key) return box;
  }
  return nullptr;
}

core::UserInterface& ArchiverEditor::Ui() const {
  return context_.ui != nullptr ? *context_.ui : core::CurrentUserInterface();
}

void ArchiverEditor::ShowDocument() {
  for (const engine::ArchiverConfigKey& key : engine::ArchiverConfigKeys()) {
    if (key.text == nullptr) continue;
    if (QLineEdit* box = Box(key.name)) {
      box->setText(QString::fromStdString(document_.values.*key.text));
      box->setCursorPosition(0);
    }
  }
  codePage_->setCurrentIndex(document_.values.ListCodePage == 1 ? 1 : 0);
  setWindowTitle(QString::fromStdString(document_.Caption()));
}

void ArchiverEditor::TakeValues() {
  for (const engine::ArchiverConfigKey& key : engine::ArchiverConfigKeys()) {
    if (key.text == nullptr) continue;
    if (const QLineEdit* box = Box(key.name)) document_.values.*key.text = box->text().toStdString();
  }
  document_.values.ListCodePage = codePage_->currentIndex() == 1 ? 1 : 0;
}

void ArchiverEditor::OpenFile(const std::string& path) {
  const platform::Status opened = document_.Open(path);
  ShowDocument();
  if (!opened.Ok()) {
    Ui().ShowMessage("Open", "The configuration file could not be loaded: " + opened.Message(),
                     core::MessageIcon::Error);
  }
}

bool ArchiverEditor::Save() {
  if (!document_.CurrentFile()) return SaveAs();
  TakeValues();
  const platform::Status saved = document_.Save();
  if (!saved.Ok()) Ui().ShowMessage("Save", saved.Message(), core::MessageIcon::Error);
  return saved.Ok();
}

bool ArchiverEditor::SaveAs() {
  const std::string chosen = AskSavePath();
  if (chosen.empty()) return false;
  const std::string path = engine::WithArchiverConfigExtension(chosen);
  std::error_code ignored;
  if (path != document_.CurrentFile().value_or("") && std::filesystem::exists(path, ignored) &&
      !Ui().Ask("Save as...", path + " already exists.\nDo you want to replace it?", false)) {
    return false;
  }
  TakeValues();
  const platform::Status saved = document_.SaveAs(path);
  if (!saved.Ok()) Ui().ShowMessage("Save as...", saved.Message(), core::MessageIcon::Error);
  setWindowTitle(QString::fromStdString(document_.Caption()));
  return saved.Ok();
}

void ArchiverEditor::Clear() {
  document_.Clear();
  ShowDocument();
}

std::string ArchiverEditor::AskOpenPath() {
  return QFileDialog::getOpenFileName(this, "Open", Utf8Text(context_.configFolder),
                                      kConfigFilter + ";;All files (*)")
      .toStdString();
}

std::string ArchiverEditor::AskSavePath() {
  // Whether a file would be replaced is asked after ".emc" has been added to the name.
  return QFileDialog::getSaveFileName(this, "Save external archive configuration",
                                      Utf8Text(context_.configFolder + "Defaul.emc"), kConfigFilter, nullptr,
                                      QFileDialog::DontConfirmOverwrite)
      .toStdString();
}

void RunArchiverEditor(QWidget* parent, const ArchiverEditorContext& context) {
  ArchiverEditor editor(parent, context);
  editor.exec();
}

}  // namespace zentrove::ui
