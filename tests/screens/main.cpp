// The screens' tests run their pages in a real QApplication on the offscreen platform.
#include <QApplication>
#include <QByteArray>

#include <gtest/gtest.h>

#include "platform/forms.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  tidrex::forms::InitializeApplication(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
