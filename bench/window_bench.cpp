// window_bench [WORK_DIR [ROUNDS]]: what watching a copy costs. The real main window (offscreen,
// its dialogs answered and its messages taken by the bench) runs real copies of a 64 MiB file in
// 100-byte blocks through the real vrel beside this program, in turn with vrel started alone:
//   - the copy's time with the window watching against vrel alone (median of the rounds);
//   - the CPU time of this process (the window's only) over the window's copies, as a share of
//     one core;
//   - the time of one SC tick, including the progress bar's redraw, over a copy in which the
//     tick runs every 20 ms: wall time and the thread's CPU time;
//   - the peak memory of this process.
// WORK_DIR (default: a new folder under /tmp) needs about 200 MiB; the progress channel goes to a
// folder in it, never the user's own.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <poll.h>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "app/frmmain.h"
#include "app/services.h"
#include "platform/core/process.h"

namespace {

constexpr qint64 kSourceBytes = 64LL * 1024 * 1024;

// Answers the file dialogs from a list, and ends the running wait when a message comes.
class BenchServices final : public Services {
 public:
  void MsgBox(QWidget*, const QString& text, const QString&, Icon) override {
    last_message = text;
    if (waiting != nullptr) waiting->quit();
  }
  // The end of a rescue with losses asks whether to show the map: taken as OK.
  int Ask(QWidget* parent, const QString& text, const QString& title, Icon icon,
          const QStringList&) override {
    MsgBox(parent, text, title, icon);
    return 0;
  }
  QString ShowOpen(QWidget*, const QString&, const QString&, const QString&) override {
    return source;
  }
  QString ShowSave(QWidget*, const QString&, const QString&, const QString&) override {
    return target;
  }
  bool OpenUrl(const QUrl&) override { return false; }
  void EndProgram(int) override {}

  QString source;
  QString target;
  QString last_message;
  QEventLoop* waiting = nullptr;
};

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double ThreadCpuMicroseconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

bool WriteSource(const std::string& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::vector<char> chunk(1 << 20);
  unsigned state = 12345;
  for (qint64 written = 0; written < kSourceBytes; written += chunk.size()) {
    for (char& byte : chunk) byte = static_cast<char>((state = state * 1103515245u + 12345u) >> 24);
    out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
  }
  return static_cast<bool>(out.flush());
}

// vrel alone, started as the window starts it; its wall time in seconds, or -1.
double CopyAlone(const QString& vrel, const std::string& argument) {
  int error = 0;
  QElapsedTimer clock;
  clock.start();
  platform::Process worker = platform::Process::Start(vrel.toStdString(), argument, &error);
  if (!worker.valid()) return -1;
  pollfd ended{worker.pidfd(), POLLIN, 0};
  while (poll(&ended, 1, -1) < 0) {
  }
  worker.Running();  // reaps it
  const std::optional<int> status = worker.WaitStatus();
  return status && *status == 0 ? static_cast<double>(clock.nsecsElapsed()) / 1e9 : -1;
}

// One job through the window, from Copy to the success message; its wall time in seconds, or -1.
double CopyThroughWindow(frmMain& window, BenchServices& services, double* cpu_seconds) {
  window.B1_Click();
  window.B2_Click();
  QEventLoop waiting;
  services.waiting = &waiting;
  services.last_message.clear();
  const double cpu_before = CpuSeconds();
  QElapsedTimer clock;
  clock.start();
  window.buttonCopy_Click();
  waiting.exec();
  const double wall = static_cast<double>(clock.nsecsElapsed()) / 1e9;
  *cpu_seconds = CpuSeconds() - cpu_before;
  services.waiting = nullptr;
  return services.last_message == QLatin1String("Copy sucessfuly finished!") ? wall : -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QTemporaryDir own_work;
  const QString work = argc > 1 ? QString::fromLocal8Bit(argv[1]) : own_work.path();
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  if (!QDir().mkpath(work + QStringLiteral("/config"))) {
    std::fprintf(stderr, "window_bench: cannot use %s\n", qPrintable(work));
    return 1;
  }
  qputenv("XDG_CONFIG_HOME", (work + QStringLiteral("/config")).toLocal8Bit());

  BenchServices services;
  services.source = work + QStringLiteral("/source.bin");
  services.target = work + QStringLiteral("/target.bin");
  if (!WriteSource(services.source.toStdString())) {
    std::fprintf(stderr, "window_bench: cannot write %s\n", qPrintable(services.source));
    return 1;
  }
  const QString folder = QCoreApplication::applicationDirPath();
  frmMain window(services, folder);
  if (!window.Load()) return 1;
  window.show();

  std::vector<double> alone;
  std::vector<double> watched;
  double watched_cpu = 0;
  double watched_wall = 0;
  const std::string argument = (services.source + QLatin1Char(';') + services.target).toStdString();
  for (int round = 0; round < rounds; ++round) {
    QFile::remove(services.target);
    alone.push_back(CopyAlone(folder + QStringLiteral("/vrel"), argument + ";100"));
    QFile::remove(services.target);
    double cpu = 0;
    watched.push_back(CopyThroughWindow(window, services, &cpu));
    watched_cpu += cpu;
    watched_wall += watched.back();
    if (alone.back() < 0 || watched.back() < 0) {
      std::fprintf(stderr, "window_bench: a copy failed (%s)\n", qPrintable(services.last_message));
      return 1;
    }
  }

  // One more copy, with the SC tick run every 20 ms and timed, each call on its own.
  // Wall time, and the CPU time of this thread: on a busy machine the wall time of a few ticks
  // also holds the moments another process had the core.
  std::vector<double> ticks;
  std::vector<double> tick_cpu;
  QTimer ticker;
  ticker.setInterval(20);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    const double cpu_before = ThreadCpuMicroseconds();
    QElapsedTimer clock;
    clock.start();
    window.SC_Timer();
    ticks.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e3);
    tick_cpu.push_back(ThreadCpuMicroseconds() - cpu_before);
  });
  QFile::remove(services.target);
  ticker.start();
  double cpu = 0;
  const bool tick_round_ok = CopyThroughWindow(window, services, &cpu) > 0;
  ticker.stop();

  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("copy of 64 MiB in 100-byte blocks, %d rounds, medians:\n", rounds);
  std::printf("  vrel alone                    %.3f s\n", Median(alone));
  std::vector<double> ratios;
  for (size_t i = 0; i < alone.size(); ++i) ratios.push_back(watched[i] / alone[i]);
  std::printf("  with the window watching      %.3f s\n", Median(watched));
  std::printf("  ratio, round by round         median %.3f, best %.3f (target at most 1.05)\n",
              Median(ratios), *std::min_element(ratios.begin(), ratios.end()));
  std::printf("  the window's CPU meanwhile    %.2f %% of one core (target under 2 %%)\n",
              100 * watched_cpu / watched_wall);
  // The share at `share` (0 to 1) of sorted values.
  const auto at = [](std::vector<double> values, double share) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[static_cast<size_t>(share * (values.size() - 1))];
  };
  std::printf(
      "SC tick with the bar's redraw, %zu ticks during a copy%s (target at most 1000 us):\n",
      ticks.size(), tick_round_ok ? "" : " (that copy failed)");
  std::printf("  wall time: median %.0f us, 99th percentile %.0f us, max %.0f us\n", at(ticks, 0.5),
              at(ticks, 0.99), at(ticks, 1.0));
  std::printf("  CPU time:  median %.0f us, 99th percentile %.0f us, max %.0f us\n",
              at(tick_cpu, 0.5), at(tick_cpu, 0.99), at(tick_cpu, 1.0));
  std::printf("peak memory of the window's process: %.1f MiB\n",
              static_cast<double>(usage.ru_maxrss) / 1024);
  return 0;
}
