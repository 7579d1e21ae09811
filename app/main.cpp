// mendra: the interactive program. The splash comes first; when its bar is full the main window
// checks that the worker lies beside the program and opens, or the program ends.
#include <QApplication>
#include <QIcon>
#include <QTimer>

#include <memory>

#include "app/frmmain.h"
#include "app/frmsplash.h"
#include "app/services.h"
#include "platform/core/number_text.h"

int main(int argc, char** argv) {
  // The user's number format, the same one the worker writes its progress in.
  // Without the user's locale both programs fall back to the same C format: nothing to report.
  (void)platform::InitUserLocale();
  QApplication app(argc, argv);
  QIcon icon;
  for (const int size : {16, 24, 32, 48}) {
    icon.addFile(QStringLiteral(":/artwork/icon-%1.png").arg(size), QSize(size, size));
  }
  QApplication::setWindowIcon(icon);

  QtServices services;
  std::unique_ptr<frmMain> window;
  std::unique_ptr<frmSplash> splash;
  splash = std::make_unique<frmSplash>([&] {
    window = std::make_unique<frmMain>(services, QCoreApplication::applicationDirPath());
    if (window->Load()) window->show();
    // The splash is done: it goes once its last tick has returned.
    QTimer::singleShot(0, [&] { splash.reset(); });
  });
  splash->show();
  return QApplication::exec();
}
