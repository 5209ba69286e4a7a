#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPixmap>
#include <QTest>
#include <cstdio>
#include <map>
#include <string>

#include "page_shots.h"
#include "ui/qt_main_thread.h"

namespace zentrove::testing::shots {
namespace {

std::map<std::string, ShotFunction>& Groups() {
  static std::map<std::string, ShotFunction> groups;
  return groups;
}

std::string& FolderValue() {
  static std::string folder;
  return folder;
}

int failures = 0;

}  // namespace

Registrar::Registrar(const char* group, ShotFunction function) {
  Groups().emplace(group, function);
}

const std::string& Folder() {
  return FolderValue();
}

bool Save(QWidget& window, const std::string& name) {
  window.show();
  window.raise();
  // Exposure and layout come from the window system; give them a moment.
  (void)QTest::qWaitForWindowExposed(&window, 3000);
  QTest::qWait(150);
  const QString path = QString::fromStdString(FolderValue() + "/" + name + ".png");
  const bool saved = window.grab().save(path, "PNG");
  if (!saved) {
    std::fprintf(stderr, "page shots: cannot save %s\n", path.toLocal8Bit().constData());
    ++failures;
  }
  return saved;
}

}  // namespace zentrove::testing::shots

// Draws every page of the dialogs on the display it is given (the smoke script's virtual screen) and
// saves them as pictures to look at. Exits 1 when a picture could not be saved.
int main(int argc, char** argv) {
  using namespace zentrove::testing::shots;
  QApplication application(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: ui_page_shots <folder>\n");
    return 2;
  }
  FolderValue() = argv[1];
  QDir().mkpath(QString::fromStdString(FolderValue()));
  zentrove::ui::QtMainThread mainThread;
  zentrove::base::SetCurrentMainThread(&mainThread);
  for (const auto& [group, function] : Groups()) {
    std::fprintf(stderr, "page shots: %s\n", group.c_str());
    function();
  }
  return failures == 0 ? 0 : 1;
}
