// The program's windows, offscreen: the real main window with its message boxes and file dialogs
// replaced by a recorder, the real vrel beside the test binary (or a stand-in that waits where a
// worker must run on), and the progress channel in a temporary folder.
#include "app/frmmain.h"

#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/buffersizes.h"
#include "app/frmabout.h"
#include "app/frmsplash.h"
#include "controls/brain.h"
#include "controls/magicbutton.h"
#include "controls/xp_progressbar.h"
#include "platform/core/settings_store.h"
#include "tests/app/started_as.h"
#include "tests/app/wait_until.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::PatternBytes;
using testing_support::ReadFileBytes;
using testing_support::WaitUntil;
using testing_support::WriteFileBytes;

class RecordingServices final : public Services {
 public:
  // A message as "title: text", with " (i)" for the information icon.
  void MsgBox(QWidget*, const QString& text, const QString& title, Icon icon) override {
    messages.push_back(title + ": " + text + (icon == Icon::kInformation ? " (i)" : ""));
  }
  QString ShowOpen(QWidget*, const QString& title, const QString& name, const QString&) override {
    return Answer("open " + title + " " + name);
  }
  QString ShowSave(QWidget*, const QString& title, const QString& name, const QString&) override {
    return Answer("save " + title + " " + name);
  }
  bool OpenUrl(const QUrl& url) override {
    urls.push_back(url);
    return true;
  }
  void EndProgram(int code) override { ends.push_back(code); }

  QStringList answers;  // what the next dialogs return, in turn; "" once none is left
  QStringList dialogs;  // "open" or "save", the title and the file name it starts with
  QStringList messages;
  std::vector<QUrl> urls;
  std::vector<int> ends;

 private:
  QString Answer(const QString& dialog) {
    dialogs.push_back(dialog);
    return answers.isEmpty() ? QString() : answers.takeFirst();
  }
};

QString Q(const std::string& text) { return QString::fromStdString(text); }

void Click(QWidget* button) {
  QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
}

// The children of this process that have not been reaped, as the kernel lists them; "" for none.
std::string Children() {
  std::ifstream list("/proc/self/task/" + std::to_string(::getpid()) + "/children");
  EXPECT_TRUE(list.is_open()) << "this kernel does not list a process's children";
  std::string pids;
  std::getline(list, pids);
  return pids;
}

// The job state as the window shows it: the Copy button's caption, the status line, the timers
// that run, and the inputs that take input, by design name in tab order.
std::string State(const frmMain& w) {
  std::string state = (w.buttonCopy()->Caption() + ", " + w.IL()->text()).toStdString() +
                      (w.SC().isActive() ? ", SC" : "") + (w.ETAT().isActive() ? ", ETAT" : "") +
                      ":";
  for (const auto& [name, on] : {std::pair{" SF", w.SF()->isEnabled()},
                                 {" TF", w.TF()->isEnabled()},
                                 {" BS", w.BS()->isEnabled()},
                                 {" B2", w.B2()->Enabled()},
                                 {" B1", w.B1()->Enabled()},
                                 {" Copy", w.buttonCopy()->Enabled()}}) {
    if (on) state += name;
  }
  return state;
}
constexpr char kIdle[] = "Copy, Ready...: SF TF BS B2 B1 Copy";
constexpr char kCopying[] = "STOP, Copying..., SC, ETAT: Copy";

class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest() { ::setenv("XDG_CONFIG_HOME", dir_.path().c_str(), 1); }
  ~MainWindowTest() override { ::unsetenv("XDG_CONFIG_HOME"); }

  // The window on the worker in `folder`, loaded and shown.
  std::unique_ptr<frmMain> Open(const std::string& folder) {
    auto window = std::make_unique<frmMain>(services_, Q(folder));
    EXPECT_TRUE(window->Load());
    window->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    return window;
  }
  // The window on the real vrel.
  std::unique_ptr<frmMain> Open() {
    return Open(QCoreApplication::applicationDirPath().toStdString());
  }

  void Choose(frmMain& window, const std::string& source, const std::string& target) {
    services_.answers = {Q(source), Q(target)};
    Click(window.B1());
    Click(window.B2());
  }

  testing_support::TempDir dir_;
  std::string source_ = dir_.Path("source file.bin");
  std::string target_ = dir_.Path("target file.bin");
  RecordingServices services_;
};

TEST_F(MainWindowTest, ACopyStoppedMidwayResumesToTheEndAndAFailedOneSaysWhy) {
  WriteFileBytes(source_, PatternBytes(4 * 1024 * 1024));
  const std::unique_ptr<frmMain> window = Open();
  Choose(*window, source_, target_);
  // The dialog now names the source again; the size label must still follow the target.
  services_.answers = {Q(source_)};
  Click(window->B1());
  window->BS()->setCurrentIndex(1);  // 1 byte per block: slow enough to stop midway

  Click(window->buttonCopy());
  EXPECT_EQ(State(*window), kCopying);
  // The bar and the size label follow the copy.
  ASSERT_TRUE(WaitUntil(
      [&] { return window->PB()->Value() > 0 && window->TS()->text() != "Curent size: 0 Bytes"; }));
  const int bar = window->PB()->Value();
  const QString size = window->TS()->text();
  Click(window->buttonCopy());
  EXPECT_EQ(State(*window), kIdle);
  EXPECT_EQ(window->PB()->Value(), bar);
  EXPECT_EQ(window->TS()->text(), size);
  ASSERT_TRUE(WaitUntil([&] { return Children().empty(); }));  // killed and reaped
  ASSERT_LT(ReadFileBytes(target_).size(), 4u * 1024 * 1024);

  window->BS()->setCurrentIndex(11);  // "10 Mb (The quickest way)"
  Click(window->buttonCopy());
  ASSERT_TRUE(WaitUntil([&] { return !services_.messages.empty(); }));
  EXPECT_EQ(State(*window), kIdle);
  EXPECT_EQ(window->PB()->Value(), 0);
  EXPECT_EQ(window->TS()->text(), "Curent size: 4 Mb");
  EXPECT_EQ(ReadFileBytes(target_), ReadFileBytes(source_));

  // A worker that fails: its own reason, from its standard error.
  const std::string unwritable = dir_.Path("no such folder/target.bin");
  services_.answers = {Q(unwritable)};
  Click(window->B2());
  Click(window->buttonCopy());
  ASSERT_TRUE(WaitUntil([&] { return services_.messages.size() == 2; }));
  EXPECT_EQ(State(*window), kIdle);
  EXPECT_EQ(services_.messages,
            QStringList({"File Copy: Copy sucessfuly finished! (i)",
                         Q("Copy stopped: The copy stopped before the end.\nvrel: cannot open '" +
                           unwritable + "': No such file or directory")}));
}

TEST_F(MainWindowTest, AJobFollowsItsOwnWorkerOnly) {
  // A program folder with a blank in its name, whose "vrel" waits until it is killed.
  const std::string folder = dir_.Path("my programs");
  std::filesystem::create_directory(folder);
  std::filesystem::create_symlink(STAND_IN_WORKER_PATH, folder + "/vrel");
  // What an earlier, finished job left in the channel.
  platform::SettingsStore channel("Vrel");
  std::string error;
  ASSERT_TRUE(channel.Write("Info", "Status", "Finished", &error)) << error;
  ASSERT_TRUE(channel.Write("Info", "Percent", "50", &error)) << error;
  WriteFileBytes(source_, PatternBytes(100));
  const std::unique_ptr<frmMain> window = Open(folder);
  Choose(*window, source_, target_);
  window->BS()->setCurrentIndex(0);  // "Variable Speed": 0 bytes
  const QSignalSpy ticks(&window->SC(), &QTimer::timeout);

  Click(window->buttonCopy());
  EXPECT_EQ(testing_support::StartedAs(window->launcher().pkill().WorkerPid()),
            testing_support::WorkerStart(folder + "/vrel", source_ + ";" + target_ + ";0"));
  ASSERT_TRUE(WaitUntil([&] { return ticks.count() >= 3; }));
  EXPECT_EQ(State(*window), kCopying);
  EXPECT_EQ(window->PB()->Value(), 50);  // the channel as it stands, until the worker writes
  // ETAT follows Percent too: 0 empties the estimate.
  ASSERT_TRUE(channel.Write("Info", "Percent", "0", &error)) << error;
  ASSERT_TRUE(WaitUntil([&] { return window->ET()->text().isEmpty(); }));

  // A STOP handled inside a tick ends that tick: the bar keeps what it showed.
  ASSERT_TRUE(channel.Write("Info", "Percent", "70", &error)) << error;
  const auto stop_soon = [&] {
    QMetaObject::invokeMethod(
        window.get(), [&] { window->buttonCopy_Click(); }, Qt::QueuedConnection);
  };
  stop_soon();
  window->SC_Timer();
  EXPECT_EQ(State(*window), kIdle);
  EXPECT_EQ(window->PB()->Value(), 0);
  ASSERT_TRUE(WaitUntil([&] { return Children().empty(); }));

  // A STOP that arrives while the worker is being started leaves no worker behind.
  stop_soon();
  window->buttonCopy_Click();
  EXPECT_EQ(State(*window), kIdle);
  ASSERT_TRUE(WaitUntil([&] { return Children().empty(); }));

  // A worker ended from outside is reported; its id is kept, and it is not signalled again.
  Click(window->buttonCopy());
  ::kill(window->launcher().pkill().WorkerPid(), SIGKILL);  // our child, not reaped yet
  ASSERT_TRUE(WaitUntil([&] { return !services_.messages.empty(); }));
  EXPECT_EQ(State(*window), kIdle);
  EXPECT_EQ(window->launcher().StopCopyng(), PKill::KillOutcome::kAlreadyEnded);
  // So is a worker removed since start-up.
  std::filesystem::remove(folder + "/vrel");
  Click(window->buttonCopy());
  EXPECT_EQ(State(*window), kIdle);
  EXPECT_EQ(services_.messages,
            QStringList({"Copy stopped: The copy stopped before the end.\n"
                         "The copy worker was ended from outside (signal 9, Killed).",
                         Q("Copy stopped: The copy stopped before the end.\nCannot start " +
                           folder + "/vrel: No such file or directory")}));

  // Exit ends a running worker with the program.
  std::filesystem::create_symlink(STAND_IN_WORKER_PATH, folder + "/vrel");
  Click(window->buttonCopy());
  EXPECT_NE(Children(), "");
  Click(window->buttonExit());
  EXPECT_EQ(services_.ends, std::vector<int>{0});
  EXPECT_FALSE(window->SC().isActive());
  ASSERT_TRUE(WaitUntil([&] { return Children().empty(); }));
  EXPECT_EQ(window->launcher().StopCopyng(), PKill::KillOutcome::kNoWorker);  // nothing left
}

TEST_F(MainWindowTest, CopyRefusesMissingOrUnusableInputsInOrder) {
  const QString source = Q(source_);
  const QString target = Q(target_);
  const QString odd = Q(dir_.Path("a;b"));
  const QString semicolon =
      "Unusable file name: This file name holds a \";\", which the copy "
      "worker cannot take:\n" +
      odd + "\nPlease rename the file or choose another one.";
  const struct {
    QString source, target;
    int buffer_size;  // list position; -1 for none
    QString message;
  } rows[] = {
      {"", "", -1, "Empty source file!: Please select source file!"},
      {source, "", -1, "Empty target file!: Please select target file!"},
      {source, target, -1, "Empty buffer size!: Please select buffer size!"},
      {odd, target, 3, semicolon},
      {source, odd, 3, semicolon},
  };
  const std::unique_ptr<frmMain> window = Open();
  for (const auto& row : rows) {
    services_.messages.clear();
    window->SF()->setText(row.source);
    window->TF()->setText(row.target);
    window->BS()->setCurrentIndex(row.buffer_size);
    window->buttonCopy_Click();
    EXPECT_EQ(services_.messages, QStringList{row.message});
    EXPECT_EQ(window->buttonCopy()->Caption(), "Copy");
  }
  // StartCopy itself refuses what the worker would not read back as meant, whoever calls it.
  QString error;
  for (const auto& [sou, tar, bytes] : {std::tuple{odd, target, 100},
                                        {source, odd, 100},
                                        {QString(), target, 100},
                                        {source, target, -1}}) {
    EXPECT_FALSE(window->launcher().StartCopy(sou, tar, bytes, &error)) << error.toStdString();
  }
  EXPECT_EQ(Children(), "");
}

TEST_F(MainWindowTest, TheEnablingChainFollowsTheDialogsAndHandEdits) {
  WriteFileBytes(source_, PatternBytes(10240));
  const std::string other_case = dir_.Path("SOURCE FILE.bin");
  WriteFileBytes(other_case, PatternBytes(1536));
  const std::unique_ptr<frmMain> window = Open();
  EXPECT_EQ(State(*window), "Copy, Ready...: SF B1");
  EXPECT_TRUE(window->btnAbout()->Enabled() && window->buttonExit()->Enabled());
  EXPECT_EQ(window->BS()->currentText(), "100 Bytes (Default)");

  services_.answers = {Q(source_), Q(source_)};
  Click(window->B1());
  EXPECT_EQ(window->SS()->text(), "Size: 10 Kb");
  EXPECT_EQ(State(*window), "Copy, Ready...: SF TF B2 B1");
  // The target dialog suggests the last name returned, the source: taking it is refused.
  Click(window->B2());
  EXPECT_EQ(services_.dialogs,
            QStringList({"open Select source file: ", "save Select target file: " + Q(source_)}));
  EXPECT_EQ(services_.messages,
            QStringList{"Wrong directory !: Destination directory can't be same as the Source "
                        "directory!\nPlease select another destination directory !"});
  EXPECT_EQ(window->TF()->text(), "");
  EXPECT_EQ(State(*window), "Copy, Ready...: SF TF B2 B1");

  // A path that differs only in letter case names another file here.
  services_.answers = {Q(other_case)};
  Click(window->B2());
  EXPECT_EQ(window->TF()->text(), Q(other_case));
  EXPECT_EQ(window->TS()->text(), "Curent size: 1.5 Kb");
  EXPECT_EQ(State(*window), kIdle);

  // Hand edits: an empty target locks the options.
  window->TF()->clear();
  EXPECT_EQ(State(*window), "Copy, Ready...: SF TF B2 B1");
  // A new target has no size yet: the label keeps the earlier one.
  services_.answers = {Q(target_)};
  Click(window->B2());
  EXPECT_EQ(window->TS()->text(), "Curent size: 1.5 Kb");
  // Emptying the source empties and locks the whole target side.
  window->SF()->clear();
  EXPECT_EQ(window->TF()->text(), "");
  EXPECT_EQ(State(*window), "Copy, Ready...: SF B1");
  EXPECT_EQ(window->SS()->text(), "Size: 10 Kb");
}

// Hand-derived rows: Kb and Mb are binary, and 0 asks the worker for variable speed.
TEST(BufferSizesTest, EachLabelGivesItsByteCount) {
  Brain brain;
  QComboBox BS;
  FillBufferSizeList(BS);
  InitBrain(brain, BS);
  for (const auto& [label, bytes] : {std::pair{"Variable Speed", 0},
                                     {"100 Bytes (Default)", 100},
                                     {"1 Kb", 1024},
                                     {"500 Kb", 512000},
                                     {"10 Mb (The quickest way)", 10485760}}) {
    EXPECT_NE(BS.findText(label), -1) << label;
    EXPECT_EQ(BufferByteCount(brain, label), bytes) << label;
  }
}

TEST_F(MainWindowTest, TheSplashHandsOverOnItsHundredAndFirstTickAndAMissingWorkerEndsAll) {
  WriteFileBytes(dir_.Path("vrel"), {});  // an empty file counts as missing
  std::unique_ptr<frmMain> window;
  bool loaded = true;
  frmSplash splash([&] {
    window = std::make_unique<frmMain>(services_, Q(dir_.path()));
    loaded = window->Load();
  });
  for (int tick = 1; tick <= 100; ++tick) splash.UT_Timer();
  EXPECT_EQ(splash.PB()->Value(), 300);
  EXPECT_TRUE(window == nullptr && splash.UT().isActive());

  splash.UT_Timer();
  EXPECT_FALSE(window == nullptr || splash.UT().isActive() || splash.isVisible() || loaded);
  EXPECT_EQ(services_.messages,
            QStringList{"Error: Cant find vrel! Please copy vrel in application folder!"});
  EXPECT_EQ(services_.ends, std::vector<int>{1});
}

TEST_F(MainWindowTest, TheAboutWindowIsModalAndItsLinkOpensTheReadme) {
  const std::unique_ptr<frmMain> window = Open();
  Click(window->btnAbout());
  const QPointer<frmAbout> about = qobject_cast<frmAbout*>(QApplication::activeModalWidget());
  ASSERT_FALSE(about.isNull());
  EXPECT_EQ(about->windowModality(), Qt::ApplicationModal);

  QTest::mouseClick(about->lblUrl(), Qt::LeftButton);
  ASSERT_EQ(services_.urls.size(), 1u);
  EXPECT_TRUE(QFileInfo(services_.urls.front().toLocalFile()).isFile());
  Click(about->buttonExit());
  ASSERT_TRUE(WaitUntil([&] { return about.isNull(); }));
}

}  // namespace
