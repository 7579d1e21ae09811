// The program's windows, offscreen: the real main window with its message boxes and file dialogs
// replaced by a recorder, the real vrel beside the test binary (or the argv recorder in its place
// where a worker must wait), and the progress channel in a temporary folder.
#include "app/frmmain.h"

#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QSignalSpy>
#include <QStringList>
#include <QTest>

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/frmabout.h"
#include "app/frmsplash.h"
#include "app/services.h"
#include "controls/magicbutton.h"
#include "controls/xp_progressbar.h"
#include "platform/core/settings_store.h"
#include "tests/app/argv_recorder.h"
#include "tests/app/wait_until.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::PatternBytes;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WaitUntil;
using testing_support::WriteFileBytes;
using Icon = Services::Icon;

constexpr size_t kMiB = 1024 * 1024;

struct Box {
  QString text;
  QString title;
  Icon icon = Icon::kExclamation;
  friend bool operator==(const Box&, const Box&) = default;
};

class RecordingServices final : public Services {
 public:
  void MsgBox(QWidget*, const QString& text, const QString& title, Icon icon) override {
    boxes.push_back({text, title, icon});
  }
  QString ShowOpen(QWidget*, const QString& title, const QString& file_name,
                   const QString&) override {
    return Answer("open " + title + " " + file_name);
  }
  QString ShowSave(QWidget*, const QString& title, const QString& file_name,
                   const QString&) override {
    return Answer("save " + title + " " + file_name);
  }
  bool OpenUrl(const QUrl& url) override {
    urls.push_back(url);
    return true;
  }
  void EndProgram(int code) override { ends.push_back(code); }

  std::deque<QString> answers;  // what the next dialogs return, in turn; "" once none is left
  QStringList dialogs;          // "open" or "save", the title and the file name it starts with
  std::vector<Box> boxes;
  std::vector<QUrl> urls;
  std::vector<int> ends;

 private:
  QString Answer(const QString& dialog) {
    dialogs.push_back(dialog);
    if (answers.empty()) return {};
    const QString answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

QString Q(const std::string& text) { return QString::fromStdString(text); }

void Click(QWidget* button) {
  QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
}

// Children of this process that still run (ended ones are reaped by the window's watch).
std::vector<pid_t> LiveChildren() {
  std::vector<pid_t> pids;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    std::getline(stat, line);
    const size_t name_end = line.rfind(')');  // "pid (name) state ppid ..."
    char state = 0;
    int parent = 0;
    if (name_end != std::string::npos &&
        std::sscanf(line.c_str() + name_end + 1, " %c %d", &state, &parent) == 2 &&
        parent == ::getpid() && state != 'Z') {
      pids.push_back(std::stoi(entry.path().filename()));
    }
  }
  return pids;
}

// The inputs that take input now, by design name, in tab order.
std::string Usable(const frmMain& w) {
  std::string names;
  for (const auto& [name, on] : {std::pair{"SF", w.SF()->isEnabled()},
                                 {"TF", w.TF()->isEnabled()},
                                 {"BS", w.BS()->isEnabled()},
                                 {"B2", w.B2()->Enabled()},
                                 {"B1", w.B1()->Enabled()},
                                 {"Copy", w.buttonCopy()->Enabled()}}) {
    if (on) names += names.empty() ? name : std::string(" ") + name;
  }
  return names;
}

bool Idle(const frmMain& w) {
  return w.buttonCopy()->Caption() == "Copy" && w.IL()->text() == "Ready..." &&
         !w.SC().isActive() && !w.ETAT().isActive() && Usable(w) == "SF TF BS B2 B1 Copy";
}

class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest() { ::setenv("XDG_CONFIG_HOME", config_.path().c_str(), 1); }
  ~MainWindowTest() override {
    for (const pid_t pid : LiveChildren()) {  // a test that failed midway leaves no worker
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv(testing_support::kArgvRecordVariable);
    ::unsetenv(testing_support::kWaitVariable);
  }

  // The window on the worker in `folder`, loaded and shown.
  std::unique_ptr<frmMain> Open(const QString& folder = QCoreApplication::applicationDirPath()) {
    auto window = std::make_unique<frmMain>(services_, folder);
    EXPECT_TRUE(window->Load());
    window->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    return window;
  }

  void Choose(frmMain& window, const std::string& source, const std::string& target) {
    services_.answers = {Q(source), Q(target)};
    Click(window.B1());
    Click(window.B2());
  }

  // A folder whose "vrel" is the argv recorder, which records its arguments in record_ and then
  // waits until it is killed.
  QString RecorderFolder() {
    const std::string folder = dir_.Path("recorder");
    std::filesystem::create_directory(folder);
    std::filesystem::create_symlink(ARGV_RECORDER_PATH, folder + "/vrel");
    ::setenv(testing_support::kArgvRecordVariable, record_.c_str(), 1);
    ::setenv(testing_support::kWaitVariable, "1", 1);
    return Q(folder);
  }

  TempDir config_;
  TempDir dir_;
  std::string source_ = dir_.Path("source file.bin");
  std::string target_ = dir_.Path("target file.bin");
  std::string record_ = dir_.Path("record");
  RecordingServices services_;
};

TEST_F(MainWindowTest, AWholeJobCopiesTheSourceAndReportsTheEnd) {
  WriteFileBytes(source_, PatternBytes(8 * kMiB));
  const std::unique_ptr<frmMain> window = Open();
  Choose(*window, source_, target_);
  // What every SC tick leaves on the screen.
  std::vector<int> bar;
  std::vector<QString> sizes;
  QObject::connect(&window->SC(), &QTimer::timeout, [&] {
    bar.push_back(window->PB()->Value());
    sizes.push_back(window->TS()->text());
  });

  Click(window->buttonCopy());
  EXPECT_EQ(window->buttonCopy()->Caption(), "STOP");
  EXPECT_EQ(window->IL()->text(), "Copying...");
  EXPECT_TRUE(window->SC().isActive() && window->ETAT().isActive());
  EXPECT_EQ(Usable(*window), "Copy");

  ASSERT_TRUE(WaitUntil([&] { return !services_.boxes.empty(); }));
  EXPECT_EQ(services_.boxes,
            std::vector<Box>({{"Copy sucessfuly finished!", "File Copy", Icon::kInformation}}));
  EXPECT_TRUE(Idle(*window));
  EXPECT_EQ(window->PB()->Value(), 0);
  EXPECT_EQ(window->TS()->text(), "Curent size: 8 Mb");
  EXPECT_EQ(ReadFileBytes(target_), ReadFileBytes(source_));
  // On the way the bar and the size label followed the copy.
  EXPECT_TRUE(std::ranges::any_of(bar, [](int value) { return value > 0 && value < 100; }));
  EXPECT_TRUE(std::ranges::any_of(sizes, [](const QString& text) {
    return text != "Curent size: 0 Bytes" && text != "Curent size: 8 Mb";
  }));
}

TEST_F(MainWindowTest, StopKeepsWhatIsShownAndTheNextCopyResumes) {
  WriteFileBytes(source_, PatternBytes(4 * kMiB));
  const std::unique_ptr<frmMain> window = Open();
  Choose(*window, source_, target_);
  // The dialog now names the source again; the size label must still follow the target.
  services_.answers = {Q(source_)};
  Click(window->B1());
  window->BS()->setCurrentIndex(1);  // 1 byte per block: slow enough to stop midway

  Click(window->buttonCopy());
  ASSERT_TRUE(WaitUntil([&] { return window->TS()->text() != "Curent size: 0 Bytes"; }));
  const int bar = window->PB()->Value();
  const QString size = window->TS()->text();
  Click(window->buttonCopy());
  EXPECT_TRUE(Idle(*window));
  EXPECT_EQ(window->PB()->Value(), bar);
  EXPECT_EQ(window->TS()->text(), size);
  EXPECT_NE(size, "Curent size: 4 Mb");
  EXPECT_TRUE(services_.boxes.empty());
  ASSERT_TRUE(WaitUntil([&] { return LiveChildren().empty(); }));
  std::vector<unsigned char> part = ReadFileBytes(target_);
  const std::vector<unsigned char> whole = ReadFileBytes(source_);
  ASSERT_LT(part.size(), whole.size());
  EXPECT_TRUE(std::equal(part.begin(), part.end(), whole.begin()));

  window->BS()->setCurrentIndex(11);  // "10 Mb (The quickest way)"
  Click(window->buttonCopy());
  ASSERT_TRUE(WaitUntil([&] { return !services_.boxes.empty(); }));
  EXPECT_EQ(services_.boxes.front().text, "Copy sucessfuly finished!");
  EXPECT_EQ(ReadFileBytes(target_), whole);
}

TEST_F(MainWindowTest, CopyRefusesMissingOrUnusableInputsInOrder) {
  const QString semicolon_message =
      "This file name holds a \";\", which the copy worker cannot take:\n%1\n"
      "Please rename the file or choose another one.";
  const QString source = Q(source_);
  const QString target = Q(target_);
  const QString odd = Q(dir_.Path("a;b"));
  struct Row {
    QString source, target;
    int buffer_size;  // list position; -1 for none
    Box box;
  };
  const Row rows[] = {
      {"", "", -1, {"Please select source file!", "Empty source file!"}},
      {source, "", -1, {"Please select target file!", "Empty target file!"}},
      {source, target, -1, {"Please select buffer size!", "Empty buffer size!"}},
      {odd, target, 3, {semicolon_message.arg(odd), "Unusable file name"}},
      {source, odd, 3, {semicolon_message.arg(odd), "Unusable file name"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.box.text.toStdString());
    services_.boxes.clear();
    const std::unique_ptr<frmMain> window = Open();
    window->SF()->setText(row.source);
    window->TF()->setText(row.target);
    window->BS()->setCurrentIndex(row.buffer_size);
    window->buttonCopy_Click();
    EXPECT_EQ(services_.boxes, std::vector<Box>{row.box});
    EXPECT_EQ(window->buttonCopy()->Caption(), "Copy");
    EXPECT_EQ(window->launcher().pkill().WorkerPid(), 0);
  }
}

TEST_F(MainWindowTest, TheEnablingChainFollowsTheDialogsAndHandEdits) {
  WriteFileBytes(source_, PatternBytes(10240));
  const std::string other_case = dir_.Path("SOURCE FILE.bin");
  WriteFileBytes(other_case, PatternBytes(1536));
  const std::unique_ptr<frmMain> window = Open();
  EXPECT_EQ(Usable(*window), "SF B1");
  EXPECT_TRUE(window->btnAbout()->Enabled() && window->buttonExit()->Enabled());
  EXPECT_EQ(window->BS()->currentText(), "100 Bytes (Default)");

  services_.answers = {Q(source_), Q(source_)};
  Click(window->B1());
  EXPECT_EQ(window->SS()->text(), "Size: 10 Kb");
  EXPECT_EQ(Usable(*window), "SF TF B2 B1");
  // The target dialog suggests the last name returned, the source: taking it is refused.
  Click(window->B2());
  EXPECT_EQ(services_.dialogs,
            QStringList({"open Select source file: ", "save Select target file: " + Q(source_)}));
  EXPECT_EQ(services_.boxes,
            std::vector<Box>({{"Destination directory can't be same as the Source directory!\n"
                               "Please select another destination directory !",
                               "Wrong directory !"}}));
  EXPECT_EQ(window->TF()->text(), "");
  EXPECT_EQ(Usable(*window), "SF TF B2 B1");

  // A path that differs only in letter case names another file here.
  services_.answers = {Q(other_case)};
  Click(window->B2());
  EXPECT_EQ(window->TF()->text(), Q(other_case));
  EXPECT_EQ(window->TS()->text(), "Curent size: 1.5 Kb");
  EXPECT_EQ(Usable(*window), "SF TF BS B2 B1 Copy");

  // Hand edits: an empty target locks the options.
  window->TF()->clear();
  EXPECT_EQ(Usable(*window), "SF TF B2 B1");
  // A new target has no size yet: the label keeps the earlier one.
  services_.answers = {Q(target_)};
  Click(window->B2());
  EXPECT_EQ(window->TS()->text(), "Curent size: 1.5 Kb");
  // Emptying the source empties and locks the whole target side.
  window->SF()->clear();
  EXPECT_EQ(window->TF()->text(), "");
  EXPECT_EQ(Usable(*window), "SF B1");
  EXPECT_EQ(window->SS()->text(), "Size: 10 Kb");
}

TEST_F(MainWindowTest, AJobFollowsItsOwnWorkerOnly) {
  WriteFileBytes(source_, PatternBytes(100));
  // What an earlier, finished job left in the channel.
  platform::SettingsStore channel("Vrel");
  std::string error;
  ASSERT_TRUE(channel.Write("Info", "Status", "Finished", &error)) << error;
  ASSERT_TRUE(channel.Write("Info", "Percent", "50", &error)) << error;
  const std::unique_ptr<frmMain> window = Open(RecorderFolder());
  Choose(*window, source_, target_);
  window->BS()->setCurrentIndex(0);  // "Variable Speed": 0 bytes
  const QSignalSpy ticks(&window->SC(), &QTimer::timeout);

  Click(window->buttonCopy());
  ASSERT_TRUE(WaitUntil([&] { return testing_support::ReadArgvRecord(record_).has_value(); }));
  EXPECT_EQ(testing_support::ReadArgvRecord(record_)->arguments,
            std::vector<std::string>{source_ + ";" + target_ + ";0"});
  ASSERT_TRUE(WaitUntil([&] { return ticks.count() >= 3; }));
  EXPECT_EQ(window->buttonCopy()->Caption(), "STOP");
  EXPECT_TRUE(services_.boxes.empty());
  EXPECT_EQ(window->PB()->Value(), 50);  // the channel as it stands, until the worker writes

  // A STOP handled inside a tick ends that tick: the bar keeps what it showed.
  ASSERT_TRUE(channel.Write("Info", "Percent", "70", &error)) << error;
  QMetaObject::invokeMethod(
      window.get(), [&] { window->buttonCopy_Click(); }, Qt::QueuedConnection);
  window->SC_Timer();
  EXPECT_TRUE(Idle(*window));
  EXPECT_EQ(window->PB()->Value(), 50);
  ASSERT_TRUE(WaitUntil([&] { return LiveChildren().empty(); }));

  // A STOP that arrives while the worker is being started leaves no worker behind.
  QMetaObject::invokeMethod(
      window.get(), [&] { window->buttonCopy_Click(); }, Qt::QueuedConnection);
  window->buttonCopy_Click();
  EXPECT_TRUE(Idle(*window));
  EXPECT_EQ(window->launcher().pkill().WorkerPid(), 0);
  ASSERT_TRUE(WaitUntil([&] { return LiveChildren().empty(); }));

  // Exit ends a running worker with the program.
  Click(window->buttonCopy());
  ASSERT_TRUE(WaitUntil([&] { return LiveChildren().size() == 1; }));
  Click(window->buttonExit());
  EXPECT_EQ(services_.ends, std::vector<int>{0});
  EXPECT_FALSE(window->SC().isActive());
  ASSERT_TRUE(WaitUntil([&] { return LiveChildren().empty(); }));
}

TEST_F(MainWindowTest, AWorkerThatFailsIsReportedAndTheWindowGoesIdle) {
  WriteFileBytes(source_, PatternBytes(100));
  const std::string unwritable = dir_.Path("no such folder/target.bin");
  const std::unique_ptr<frmMain> window = Open();

  // The worker's own reason, from its standard error.
  Choose(*window, source_, unwritable);
  Click(window->buttonCopy());
  ASSERT_TRUE(WaitUntil([&] { return !services_.boxes.empty(); }));
  EXPECT_EQ(services_.boxes,
            std::vector<Box>({{Q("The copy stopped before the end.\nvrel: cannot open '" +
                                 unwritable + "': No such file or directory"),
                               "Copy stopped"}}));
  EXPECT_TRUE(Idle(*window));

  // A worker ended from outside, then one removed since start-up.
  const QString folder = RecorderFolder();
  const std::unique_ptr<frmMain> other = Open(folder);
  Choose(*other, source_, target_);
  services_.boxes.clear();
  Click(other->buttonCopy());
  ASSERT_TRUE(WaitUntil([&] { return LiveChildren().size() == 1; }));
  ::kill(LiveChildren().front(), SIGKILL);
  ASSERT_TRUE(WaitUntil([&] { return !services_.boxes.empty(); }));
  std::filesystem::remove(folder.toStdString() + "/vrel");
  Click(other->buttonCopy());
  const QString stopped = "The copy stopped before the end.\n";
  EXPECT_EQ(
      services_.boxes,
      std::vector<Box>(
          {{stopped + "The copy worker was ended from outside (signal 9, Killed).", "Copy stopped"},
           {stopped + "Cannot start " + folder + "/vrel: No such file or directory",
            "Copy stopped"}}));
  EXPECT_TRUE(Idle(*other));
}

TEST_F(MainWindowTest, TheSplashHandsOverOnItsHundredAndFirstTickAndAMissingWorkerEndsAll) {
  // An empty file counts as missing.
  WriteFileBytes(dir_.Path("vrel"), {});
  std::unique_ptr<frmMain> window;
  bool loaded = true;
  frmSplash splash([&] {
    window = std::make_unique<frmMain>(services_, Q(dir_.path()));
    loaded = window->Load();
  });
  for (int tick = 1; tick <= 100; ++tick) splash.UT_Timer();
  EXPECT_EQ(splash.PB()->Value(), 300);
  EXPECT_EQ(window, nullptr);
  EXPECT_TRUE(splash.UT().isActive());

  splash.UT_Timer();
  ASSERT_NE(window, nullptr);
  EXPECT_FALSE(splash.UT().isActive());
  EXPECT_FALSE(splash.isVisible());
  EXPECT_FALSE(loaded);
  EXPECT_EQ(services_.boxes, std::vector<Box>({{"Cant find vrel! Please copy vrel in application "
                                                "folder!",
                                                "Error"}}));
  EXPECT_EQ(services_.ends, std::vector<int>{1});
  EXPECT_FALSE(window->isVisible());
}

TEST_F(MainWindowTest, TheAboutWindowIsModalAndItsLinkOpensTheReadme) {
  const std::unique_ptr<frmMain> window = Open();
  Click(window->btnAbout());
  const QPointer<frmAbout> about = qobject_cast<frmAbout*>(QApplication::activeModalWidget());
  ASSERT_FALSE(about.isNull());
  EXPECT_EQ(about->windowModality(), Qt::ApplicationModal);

  QTest::mouseClick(about->lblUrl(), Qt::LeftButton);
  ASSERT_EQ(services_.urls.size(), 1u);
  EXPECT_TRUE(QFileInfo(services_.urls.front().toLocalFile()).isFile())
      << services_.urls.front().toString().toStdString();
  EXPECT_TRUE(about->isVisible());

  Click(about->buttonExit());
  ASSERT_TRUE(WaitUntil([&] { return about.isNull(); }));
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

}  // namespace
