#pragma once

#include <QWidget>
#include <string>

namespace zentrove::testing::shots {

// Shows `window` on the display, lets it lay itself out and saves what it draws as <folder>/<name>.png,
// where <folder> is the one the page-shot program was given. Returns false when it cannot be saved.
bool Save(QWidget& window, const std::string& name);

// The folder of the pictures; the shot functions may keep sandbox files beside them.
const std::string& Folder();

using ShotFunction = void (*)();
// Registers a group of pictures; the program runs the groups in the order of their names.
struct Registrar {
  Registrar(const char* group, ShotFunction function);
};

}  // namespace zentrove::testing::shots

// Defines a function that saves the pictures of one group of windows, run by the page-shot program:
//   ZENTROVE_PAGE_SHOTS(Options) { OptionsWindow window(...); shots::Save(window, "options-1-main"); ... }
#define ZENTROVE_PAGE_SHOTS(group)                                                                        \
  static void group##PageShots();                                                                         \
  static const ::zentrove::testing::shots::Registrar group##PageShotsRegistrar(#group, group##PageShots); \
  static void group##PageShots()
