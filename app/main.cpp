// mendra: the interactive program. The splash comes first; when its bar is full the main window
// checks that the worker lies beside the program and opens, or the program ends.
#include <QApplication>
#include <QIcon>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <string_view>

#include "app/frmmain.h"
#include "app/frmsplash.h"
#include "app/services.h"
#include "platform/core/number_text.h"
#include "platform/core/version.h"

namespace {

constexpr char kHelpText[] =
    "Usage: mendra [--help] [--version] [Qt options]\n"
    "Rescue the readable contents of a damaged file (a scratched disc, a failing disk): a window\n"
    "to choose the source file, the target file and a block size, and to start, watch and stop\n"
    "the copy. The copy itself is made by vrel, which must lie in the same folder as mendra.\n"
    "\n"
    "  --help      print this help and exit\n"
    "  --version   print the version and exit\n"
    "\n"
    "Other arguments are those of any Qt program (for instance -platform offscreen).\n";

}  // namespace

int main(int argc, char** argv) {
  // Answered before any window system is needed, so they also work without a display.
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--help" || argument == "--version") {
      if (argument == "--help") {
        (void)std::fputs(kHelpText, stdout);
      } else {
        (void)std::printf("mendra (Mendra) %s\n", platform::kVersion);
      }
      return std::fflush(stdout) == 0 ? 0 : 1;
    }
  }
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
