// The seven pages of the options window: their controls and layout.
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "core/options_form.h"
#include "ui/options_window.h"

namespace zentrove::ui {
namespace {

QComboBox* ListOf(QWidget* parent, const std::vector<std::string>& captions) {
  auto* list = new QComboBox(parent);
  for (const std::string& caption : captions)
    list->addItem(Utf8Text(caption));
  return list;
}

// A small square of the colour beside its name; colour values hold red in their lowest byte.
QIcon Swatch(std::int32_t value) {
  QPixmap pixmap(14, 14);
  pixmap.fill(QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF));
  QPainter painter(&pixmap);
  painter.setPen(Qt::darkGray);
  painter.drawRect(0, 0, 13, 13);
  return QIcon(pixmap);
}

QComboBox* ColorList(QWidget* parent) {
  auto* list = new QComboBox(parent);
  for (const core::ColorChoice& choice : core::ColorChoices())
    list->addItem(Swatch(choice.value), Utf8Text(choice.caption), choice.value);
  return list;
}

QSpinBox* LogNumberField(QWidget* parent) {
  auto* field = new QSpinBox(parent);
  field->setRange(core::kLogNumberMinimum, core::kLogNumberMaximum);
  field->setSingleStep(core::kLogNumberStep);
  field->setMinimumWidth(90);
  return field;
}

QLineEdit* MaskedField(QWidget* parent) {
  auto* field = new QLineEdit(parent);
  field->setEchoMode(QLineEdit::Password);
  field->setStyleSheet("lineedit-password-character: 42");
  return field;
}

}  // namespace

void OptionsWindow::BuildArchiversPage(QWidget* page) {
  OptionsControls& c = controls_;
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(new QLabel("Archiver Temporary Folder", page));
  auto* folderRow = new QHBoxLayout;
  c.tempPath = new QLineEdit(page);
  auto* browse = new QPushButton("...", page);
  browse->setFixedWidth(32);
  folderRow->addWidget(c.tempPath, 1);
  folderRow->addWidget(browse);
  layout->addLayout(folderRow);
  connect(browse, &QPushButton::clicked, this, [this] {
    const QString folder =
        QFileDialog::getExistingDirectory(this, "Archiver Temporary Folder", controls_.tempPath->text());
    if (!folder.isEmpty()) controls_.tempPath->setText(folder);
  });

  auto* form = new QFormLayout;
  c.compression = ListOf(page, core::ListCaptions("CompressMetod"));
  c.priority = ListOf(page, core::ListCaptions("ZipPriority"));
  form->addRow("Default compressing ratio", c.compression);
  form->addRow("Default archiver priority", c.priority);
  layout->addLayout(form);
  c.sound = new QCheckBox("Play Sound at Task Start and Finish", page);
  layout->addWidget(c.sound);
  if (context_.editArchivers) {
    c.editArchivers = new QPushButton("Edit Configurations of External Archivers", page);
    auto* row = new QHBoxLayout;
    row->addWidget(c.editArchivers);
    row->addStretch();
    layout->addLayout(row);
    connect(c.editArchivers, &QPushButton::clicked, this, [this] { context_.editArchivers(this); });
  }
  layout->addStretch();
}

void OptionsWindow::BuildLogPage(QWidget* page) {
  OptionsControls& c = controls_;
  auto* layout = new QVBoxLayout(page);
  auto* kinds = new QGroupBox("Lines written to the log", page);
  auto* grid = new QGridLayout(kinds);
  c.outError = new QCheckBox("Errors", kinds);
  c.outWarnings = new QCheckBox("Warnings", kinds);
  c.outInfo = new QCheckBox("Information", kinds);
  c.colorError = ColorList(kinds);
  c.colorWarnings = ColorList(kinds);
  c.colorInfo = ColorList(kinds);
  int row = 0;
  for (auto [check, colour] : {std::pair{c.outError, c.colorError}, std::pair{c.outWarnings, c.colorWarnings},
                               std::pair{c.outInfo, c.colorInfo}}) {
    grid->addWidget(check, row, 0);
    grid->addWidget(colour, row, 1);
    ++row;
  }
  grid->setColumnStretch(2, 1);
  layout->addWidget(kinds);
  c.eventLog = new QCheckBox("Write notifications to the Application Event Log", page);
  layout->addWidget(c.eventLog);
  auto* form = new QFormLayout;
  c.maxLogCount = LogNumberField(page);
  c.maxLog = LogNumberField(page);
  form->addRow("Number of rows in the log to be displayed", c.maxLogCount);
  form->addRow("Maximal log file size (Kb)", c.maxLog);
  layout->addLayout(form);
  c.clearLog = new QPushButton("Clear Log", page);
  c.clearLog->setToolTip("Clear Log and Log Window");
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(c.clearLog);
  buttons->addStretch();
  layout->addLayout(buttons);
  layout->addStretch();
}

void OptionsWindow::BuildGenericPage(QWidget* page) {
  OptionsControls& c = controls_;
  auto* layout = new QVBoxLayout(page);
  c.runOnStartUp = new QCheckBox("Run program at system Startup", page);
  c.autostartNote = new QLabel(
      "An autostart entry that was not made by Zentrove starts the program at log-on; it is kept as it is.",
      page);
  c.autostartNote->setWordWrap(true);
  c.autostartNote->setVisible(false);
  c.exitIfNoTasks = new QCheckBox("Shutdown program if there are no active tasks", page);
  c.showLogo = new QCheckBox("Show Logo at Startup", page);
  c.exitIfTodayNoTasks = new QCheckBox("Shutdown program if there are no active tasks today ", page);
  c.exitWithoutDlg = new QCheckBox("Shutdown Program without confirmation", page);
  c.recycleBin = new QCheckBox("Delete files to Recycled Bin", page);
  c.hideDepth = new QCheckBox("Hide archive depth if Prefix is not entered", page);
  for (QWidget* widget :
       std::initializer_list<QWidget*>{c.runOnStartUp, c.autostartNote, c.exitIfNoTasks, c.showLogo,
                                       c.exitIfTodayNoTasks, c.exitWithoutDlg, c.recycleBin, c.hideDepth})
    layout->addWidget(widget);

  auto* access = new QGroupBox("Access password", page);
  auto* form = new QFormLayout(access);
  c.password = MaskedField(access);
  c.confirmation = MaskedField(access);
  form->addRow("Password ", c.password);
  form->addRow("Confirmation", c.confirmation);
  layout->addWidget(access);

  c.showTrayIcon = new QCheckBox("Show tray icon", page);
  layout->addWidget(c.showTrayIcon);
  QString note = Utf8Text(core::kTrayIconNote);
  note.replace(" \r\n ", "\n");
  auto* trayNote = new QLabel(note, page);
  trayNote->setWordWrap(true);
  layout->addWidget(trayNote);
  layout->addStretch();
}

void OptionsWindow::BuildServicePage(QWidget* page) {
  OptionsControls& c = controls_;
  auto* layout = new QVBoxLayout(page);
  c.serviceLine = new QLabel(page);
  c.serviceLine->setWordWrap(true);
  c.serviceLine->setTextInteractionFlags(Qt::TextSelectableByMouse);
  c.serviceLine->setMinimumHeight(c.serviceLine->fontMetrics().height() * 5);
  c.serviceLine->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  layout->addWidget(c.serviceLine);
  auto* buttons = new QHBoxLayout;
  c.installService = new QPushButton("Install service", page);
  c.deleteService = new QPushButton("Delete Service", page);
  buttons->addWidget(c.installService);
  buttons->addWidget(c.deleteService);
  buttons->addStretch();
  layout->addLayout(buttons);
  layout->addStretch();
  connect(c.installService, &QPushButton::clicked, this, &OptionsWindow::InstallService);
  connect(c.deleteService, &QPushButton::clicked, this, &OptionsWindow::RemoveService);
}

void OptionsWindow::BuildInterfacePage(QWidget* page) {
  OptionsControls& c = controls_;
  auto* layout = new QVBoxLayout(page);
  auto* row = new QHBoxLayout;
  c.languageLabel = new QLabel("Interface language", page);
  c.language = new QComboBox(page);
  for (const InterfaceLanguage& language : languages_)
    c.language->addItem(language.caption, language.identifier);
  row->addWidget(c.languageLabel);
  row->addWidget(c.language, 1);
  layout->addLayout(row);

  auto* sizes = new QGroupBox("Interface Font Size", page);
  auto* sizeLayout = new QHBoxLayout(sizes);
  c.fontSize = new QButtonGroup(this);
  for (int choice = 0; choice < core::kFontSizeChoiceCount; ++choice) {
    auto* button = new QRadioButton(QString::number(core::FormScaleAt(choice)) + "%", sizes);
    c.fontSize->addButton(button, choice);
    sizeLayout->addWidget(button);
  }
  sizeLayout->addStretch();
  layout->addWidget(sizes);
  layout->addStretch();
}

void OptionsWindow::BuildConfirmationsPage(QWidget* page) {
  OptionsControls& c = controls_;
  auto* layout = new QVBoxLayout(page);
  c.promptDelete = new QCheckBox("Show Delete dialog", page);
  c.promptExecute = new QCheckBox("Show Execute dialog", page);
  c.promptInterrupt = new QCheckBox("Show Abort dialog", page);
  c.promptAllExecute = new QCheckBox("Show Group execute dialog", page);
  for (QWidget* widget : std::initializer_list<QWidget*>{c.promptDelete, c.promptExecute, c.promptInterrupt,
                                                         c.promptAllExecute})
    layout->addWidget(widget);
  auto* locked = new QGroupBox("Locked files", page);
  auto* lockedLayout = new QFormLayout(locked);
  c.promptShare = new QCheckBox("Show the dialog if locked file is found", locked);
  c.lockedDefault = ListOf(locked, core::ListCaptions("PSDefaultAction"));
  lockedLayout->addRow(c.promptShare);
  lockedLayout->addRow("Default", c.lockedDefault);
  layout->addWidget(locked);
  layout->addStretch();
}

void OptionsWindow::BuildEmailPage(QWidget* page) {
  OptionsControls& c = controls_;
  auto* layout = new QVBoxLayout(page);
  auto* server = new QGroupBox("SMTP server", page);
  auto* grid = new QGridLayout(server);
  c.smtpHost = new QLineEdit(server);
  c.smtpPort = new QLineEdit(server);
  c.smtpPort->setMaximumWidth(80);
  c.smtpUser = new QLineEdit(server);
  c.smtpPassword = MaskedField(server);
  c.connectionType = ListOf(server, {"SMTP", "Implicit SSL/TLS", "Explicit SSL/TLS"});
  grid->addWidget(new QLabel("Host", server), 0, 0);
  grid->addWidget(c.smtpHost, 0, 1);
  grid->addWidget(new QLabel("Port", server), 0, 2);
  grid->addWidget(c.smtpPort, 0, 3);
  grid->addWidget(new QLabel("User", server), 1, 0);
  grid->addWidget(c.smtpUser, 1, 1);
  grid->addWidget(new QLabel("Password", server), 1, 2);
  grid->addWidget(c.smtpPassword, 1, 3);
  grid->addWidget(new QLabel("Connection type", server), 2, 0);
  grid->addWidget(c.connectionType, 2, 1);
  grid->setColumnStretch(1, 1);
  layout->addWidget(server);

  auto* proxy = new QGroupBox("Proxy", page);
  auto* proxyGrid = new QGridLayout(proxy);
  c.useProxy = new QCheckBox("Use proxy server", proxy);
  c.proxyHost = new QLineEdit(proxy);
  c.proxyPort = new QLineEdit(proxy);
  c.proxyPort->setMaximumWidth(80);
  proxyGrid->addWidget(c.useProxy, 0, 0, 1, 4);
  proxyGrid->addWidget(new QLabel("Host", proxy), 1, 0);
  proxyGrid->addWidget(c.proxyHost, 1, 1);
  proxyGrid->addWidget(new QLabel("Port", proxy), 1, 2);
  proxyGrid->addWidget(c.proxyPort, 1, 3);
  proxyGrid->setColumnStretch(1, 1);
  layout->addWidget(proxy);
  connect(c.useProxy, &QCheckBox::toggled, this, [this](bool on) {
    controls_.proxyHost->setEnabled(on);
    controls_.proxyPort->setEnabled(on);
  });

  auto* sender = new QFormLayout;
  c.fromName = new QLineEdit(page);
  c.returnAddress = new QLineEdit(page);
  sender->addRow("From", c.fromName);
  sender->addRow("The return address", c.returnAddress);
  layout->addLayout(sender);
  c.smtpTest = new QPushButton("SMTP connection test ...", page);
  auto* row = new QHBoxLayout;
  row->addWidget(c.smtpTest);
  row->addStretch();
  layout->addLayout(row);
  layout->addStretch();
  connect(c.smtpTest, &QPushButton::clicked, this, &OptionsWindow::StartSmtpTest);
}

}  // namespace zentrove::ui
