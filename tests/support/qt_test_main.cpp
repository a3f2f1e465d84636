// The main of every test folder whose cases need a QApplication: one for the whole process,
// offscreen unless the test's entry chose a platform.
#include <QApplication>

#include <gtest/gtest.h>

#include "platform/forms.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  tidrex::forms::InitializeApplication(argc, argv);
  return RUN_ALL_TESTS();
}
