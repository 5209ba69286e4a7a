#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "ui/qt_main_thread.h"

// The widget tests draw off screen; one application object serves them all.
int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  // Posted calls and the list's coalesced refreshes run on the application's loop, as in the program.
  zentrove::ui::QtMainThread mainThread;
  zentrove::base::SetCurrentMainThread(&mainThread);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
