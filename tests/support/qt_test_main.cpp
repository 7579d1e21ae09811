// The main of the Qt test programs: GoogleTest inside a QApplication.
#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  // The tests never need a display; the offscreen platform also lets test discovery run anywhere.
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
