// mendra: the interactive program. The main window is still empty.
#include <QApplication>
#include <QWidget>

#include "platform/core/number_text.h"

int main(int argc, char** argv) {
  // The user's number format, the same one the worker writes its progress in.
  // Without the user's locale both programs fall back to the same C format: nothing to report.
  (void)platform::InitUserLocale();
  QApplication app(argc, argv);
  QWidget window;
  window.setWindowTitle(QStringLiteral("Mendra 2"));
  window.show();
  return QApplication::exec();
}
