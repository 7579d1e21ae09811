// The main window and its units. The windows run offscreen: the real main window with its message
// boxes and file dialogs replaced by a recorder, the real vrel beside the test binary (or a
// stand-in that waits where a worker must run on), and the progress channel in a temporary folder.
#include "app/frmmain.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QMimeDatabase>
#include <QPointer>
#include <QTest>

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <tuple>
#include <utility>

#include "app/displaysize.h"
#include "app/frmabout.h"
#include "app/frmmap.h"
#include "app/frmsplash.h"
#include "app/timeremain.h"
#include "controls/magicbutton.h"
#include "controls/xp_progressbar.h"
#include "platform/core/rescue_map.h"
#include "platform/core/settings_store.h"
#include "tests/app/started_as.h"
#include "tests/app/wait_until.h"
#include "tests/support/damaged_mount.h"
#include "tests/support/env.h"
#include "tests/support/temp_dir.h"

namespace {

using platform::AreaStatus;
using testing_support::PatternBytes;
using testing_support::ReadFileBytes;
using testing_support::WaitUntil;
using testing_support::WriteFileBytes;
using Messages = std::vector<std::string>;

struct RecordingServices final : Services {
  // A message box as "title: text", with " (i)" for the information icon.
  void MsgBox(QWidget*, const QString& text, const QString& title, Icon icon) override {
    Log(title + ": " + text + (icon == Icon::kInformation ? " (i)" : ""));
  }
  // A question as "title: text [first button|second button...]".
  int Ask(QWidget*, const QString& text, const QString& title, Icon,
          const QStringList& buttons) override {
    Log(title + ": " + text + " [" + buttons.join('|') + "]");
    return choices.isEmpty() ? -1 : choices.takeFirst();
  }
  QString ShowOpen(QWidget*, const QString&, const QString&, const QString&) override {
    return answers.isEmpty() ? QString() : answers.takeFirst();
  }
  QString ShowSave(QWidget* parent, const QString&, const QString&, const QString&) override {
    return ShowOpen(parent, {}, {}, {});
  }
  bool OpenUrl(const QUrl& url) override {
    Log("url " + url.toLocalFile());
    return true;
  }
  void EndProgram(int code) override { Log("end " + QString::number(code)); }
  void Log(const QString& message) { messages.push_back(message.toStdString()); }

  QStringList answers;  // what the next dialogs return, in turn; "" once none is left
  QList<int> choices;   // the buttons the next questions are answered with; -1 (closed) after
  Messages messages;    // also the addresses opened and the program's end
};

QString Q(const std::string& text) { return QString::fromStdString(text); }
std::string AppFolder() { return QCoreApplication::applicationDirPath().toStdString(); }

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
// that run, and the inputs that take input, by control name in tab order.
std::string State(const frmMain& window) {
  std::string state = (window.buttonCopy()->Caption() + ", " + window.IL()->text()).toStdString() +
                      (window.SC().isActive() ? ", SC" : "") +
                      (window.ETAT().isActive() ? ", ETAT" : "") + ":";
  // clang-format off
  const std::pair<bool, const char*> controls[] = {
      {window.SF()->isEnabled(), " SF"}, {window.TF()->isEnabled(), " TF"},
      {window.BS()->isEnabled(), " BS"}, {window.B2()->Enabled(), " B2"}, {window.B1()->Enabled(), " B1"},
      {window.buttonCopy()->Enabled(), " Copy"}, {window.btnMap()->Enabled(), " Map"}};
  // clang-format on
  for (const auto& [enabled, name] : controls) state += enabled ? name : "";
  return state;
}
constexpr char kIdle[] = "Copy, Ready...: SF TF BS B2 B1 Copy Map";
constexpr char kCopying[] = "STOP, Copying..., SC, ETAT: Copy Map";
constexpr char kFinished[] = "File Copy: Copy sucessfuly finished! (i)";
constexpr char kStopped[] = "Copy stopped: The copy stopped before the end.\n";

// `size` bytes of `source` whose areas are rescued but for `holes`, written as the worker writes
// its maps: beside the target, and replaced, never rewritten in place.
void WriteMap(const std::string& path, const std::string& source, std::int64_t size,
              const std::vector<platform::MapArea>& holes) {
  platform::RescueMap map(source, size);
  map.Mark(0, size, AreaStatus::kRescued);
  for (const platform::MapArea& hole : holes) map.Mark(hole.pos, hole.size, hole.status);
  std::ofstream(path + ".new") << map.Text();
  std::filesystem::rename(path + ".new", path);
}

// Writes `value` under `key` in the progress channel, as a worker does.
void SetChannel(const char* key, const char* value) {
  std::string error;
  EXPECT_TRUE(platform::SettingsStore("Vrel").Write("Info", key, value, &error)) << error;
}

class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest() { ::setenv("XDG_CONFIG_HOME", dir_.path().c_str(), 1); }
  ~MainWindowTest() override { ::unsetenv("XDG_CONFIG_HOME"); }

  // The window on the worker in `folder` (the real vrel's by default), loaded and shown, with
  // `source` and `target` chosen through the dialogs unless `source` is empty.
  std::unique_ptr<frmMain> Open(const std::string& source = "", const std::string& target = "",
                                const std::string& folder = AppFolder()) {
    auto window = std::make_unique<frmMain>(services_, Q(folder));
    EXPECT_TRUE(window->Load());
    window->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    if (!source.empty()) Pick(window->B1(), source), Pick(window->B2(), target);
    return window;
  }
  // Clicks `button` with the file dialog answering `file`.
  void Pick(QWidget* button, const std::string& file) {
    services_.answers = {Q(file)};
    Click(button);
  }

  // Clicks Copy with no message recorded yet; whether `count` messages come within the wait.
  bool CopyUntilMessages(frmMain& window, std::size_t count = 1) {
    services_.messages.clear();
    Click(window.buttonCopy());
    return WaitUntil([&] { return services_.messages.size() == count; });
  }

  // A program folder whose "vrel" is the stand-in that waits until it is killed.
  std::string StandInFolder(const std::string& name) {
    const std::string folder = dir_.Path(name);
    std::filesystem::create_directory(folder);
    std::filesystem::create_symlink(STAND_IN_WORKER_PATH, folder + "/vrel");
    return folder;
  }

  testing_support::TempDir dir_;
  std::string source_ = dir_.Path("source file.bin");
  std::string target_ = dir_.Path("target file.bin");
  RecordingServices services_;
};

// The source is a medium on which a read of the 4 KiB at 2 MiB takes 2 s: the copy waits there
// to be stopped midway, however fast it is elsewhere.
TEST_F(MainWindowTest, ACopyStoppedMidwayResumesToTheEndAndAFailedOneSaysWhy) {
  if (!testing_support::FuseAvailable()) SKIP_OR_FAIL_IN_CI("/dev/fuse cannot be opened");
  WriteFileBytes(dir_.Path("image"), PatternBytes(4 * 1024 * 1024));
  const testing_support::DamagedMount medium(DAMAGEDFS_PATH, dir_, dir_.Path("image"), {}, {},
                                             {{2 << 20, 4096}}, 2000000);
  ASSERT_TRUE(medium.served()) << medium.log();
  const std::string file_system_only = Children();
  const std::unique_ptr<frmMain> window = Open(medium.file(), target_);
  window->BS()->setCurrentIndex(1);  // 1 byte per block

  Click(window->buttonCopy());
  ASSERT_TRUE(
      WaitUntil([&] { return window->PB()->Value() > 0 && !window->ET()->text().isEmpty(); }));
  const int bar = window->PB()->Value();
  Click(window->buttonCopy());
  // The target's size as it is now, not as the last tick saw it; no estimate.
  const std::size_t held = ReadFileBytes(target_).size();
  ASSERT_LT(held, 4u * 1024 * 1024);
  EXPECT_EQ(State(*window), kIdle);
  EXPECT_EQ(window->PB()->Value(), bar);
  EXPECT_EQ(window->TS()->text(), "Curent size: " + DisplaySize(std::int64_t(held)));
  EXPECT_EQ(window->ET()->text(), "");
  ASSERT_TRUE(WaitUntil([&] { return Children() == file_system_only; }));  // killed and reaped

  window->BS()->setCurrentIndex(11);  // "10 Mb (The quickest way)"
  // Resumed without a question: the worker keeps a map from its start.
  ASSERT_TRUE(CopyUntilMessages(*window));
  EXPECT_EQ(services_.messages, Messages{kFinished});
  EXPECT_EQ(State(*window), kIdle);
  EXPECT_EQ(window->PB()->Value(), 0);
  EXPECT_EQ(window->TS()->text(), "Curent size: 4 Mb");
  EXPECT_EQ(ReadFileBytes(target_), ReadFileBytes(dir_.Path("image")));

  // A worker that fails: its own reason, from its standard error.
  const std::string unwritable = dir_.Path("no such folder/target.bin");
  Pick(window->B2(), unwritable);
  ASSERT_TRUE(CopyUntilMessages(*window));
  EXPECT_EQ(services_.messages[0],
            kStopped + ("vrel: cannot open '" + unwritable + "': No such file or directory"));
}

TEST_F(MainWindowTest, AJobFollowsItsOwnWorkerOnlyAndARetryItsAreas) {
  const std::string folder = StandInFolder("my programs");  // a blank in the folder's name
  // What an earlier, finished job left in the channel.
  SetChannel("Status", "Finished");
  SetChannel("Percent", "100");
  WriteFileBytes(source_, PatternBytes(100));
  const std::unique_ptr<frmMain> window = Open(source_, target_, folder);
  const auto started_as = [&](const char* bytes) {
    return testing_support::WorkerStart(folder + "/vrel", source_ + ";" + target_ + ";" + bytes);
  };
  window->BS()->setCurrentText("Variable Speed");

  Click(window->buttonCopy());
  EXPECT_EQ(testing_support::StartedAs(window->launcher().pkill().WorkerPid()), started_as("0"));
  // Nothing of the last job shows, and its "Finished" ends only a job whose worker has ended.
  window->SC_Timer();
  window->ETAT_Timer();
  EXPECT_EQ(State(*window), kCopying);
  EXPECT_EQ(window->PB()->Value(), 0);
  EXPECT_EQ(window->ET()->text(), "");

  // A STOP handled inside a tick ends that tick: the bar keeps what it showed.
  SetChannel("Percent", "70");
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

  // A worker removed since start-up is reported.
  std::filesystem::remove(folder + "/vrel");
  Click(window->buttonCopy());
  EXPECT_EQ(services_.messages,
            Messages({kStopped + std::string("The copy worker was ended from outside (signal 9, "
                                             "Killed)."),
                      kStopped + ("Cannot start " + folder + "/vrel: No such file or directory")}));
  std::filesystem::create_symlink(STAND_IN_WORKER_PATH, folder + "/vrel");  // back in place

  // The bar of a retry shows its way through the areas: with Percent 65 (the block at byte 650),
  // 100 + 49 of the 200 bytes are done: 74.5, 74 on the bar.
  WriteFileBytes(source_, PatternBytes(1000));
  WriteFileBytes(target_, PatternBytes(1000));
  WriteMap(target_ + ".map", source_, 1000,
           {{100, 100, AreaStatus::kUnreadable}, {600, 100, AreaStatus::kUntried}});
  Click(window->buttonCopy());
  SetChannel("Percent", "65");
  ASSERT_TRUE(WaitUntil([&] { return window->ET()->text().startsWith(kRemainingPrefix); }));
  EXPECT_EQ(window->PB()->Value(), 74);
  Click(window->buttonCopy());
  EXPECT_EQ(window->TS()->text(), "Curent size: 1000 Bytes");

  // Exit ends a running worker with the program. 500 Kb are 512,000 bytes.
  window->BS()->setCurrentText("500 Kb");
  Click(window->buttonCopy());
  EXPECT_EQ(testing_support::StartedAs(window->launcher().pkill().WorkerPid()),
            started_as("512000"));
  Click(window->buttonExit());
  EXPECT_EQ(services_.messages.back(), "end 0");
  ASSERT_TRUE(WaitUntil([&] { return Children().empty(); }));
  EXPECT_EQ(window->launcher().StopCopyng(), PKill::KillOutcome::kNoWorker);  // nothing left
}

TEST_F(MainWindowTest, ARescueWithLossesSaysSoAndOffersTheMap) {
  if (!testing_support::FuseAvailable()) SKIP_OR_FAIL_IN_CI("/dev/fuse cannot be opened");
  // 100,000 bytes of which 1,000 at 20,000 and 13,435 at 70,000 cannot be read: 14,435 bytes.
  const std::vector<unsigned char> image = PatternBytes(100000);
  WriteFileBytes(dir_.Path("image"), image);
  const testing_support::DamagedMount medium(DAMAGEDFS_PATH, dir_, dir_.Path("image"),
                                             {{20000, 1000}, {70000, 13435}}, {});
  ASSERT_TRUE(medium.served()) << medium.log();
  // A finished rescue of it, and its map: Copy retries the two areas, which fail again.
  std::vector<unsigned char> rescued = image;
  std::fill_n(rescued.begin() + 20000, 1000, 0);
  std::fill_n(rescued.begin() + 70000, 13435, 0);
  WriteFileBytes(target_, rescued);
  WriteMap(target_ + ".map", medium.file(), 100000,
           {{20000, 1000, AreaStatus::kUnreadable}, {70000, 13435, AreaStatus::kUnreadable}});
  const std::unique_ptr<frmMain> window = Open(medium.file(), target_);
  services_.choices = {1};  // Show Map
  Click(window->buttonCopy());
  EXPECT_EQ(State(*window), "STOP, Retrying unreadable areas..., SC, ETAT: Copy Map");
  ASSERT_TRUE(WaitUntil([&] { return !services_.messages.empty(); }));
  EXPECT_EQ(services_.messages,
            Messages{"File Copy: Copy sucessfuly finished!\n14.1 Kb (14435 bytes) in 2 areas "
                     "could not be read.\nCopy again retries them. [OK|Show Map]"});
  EXPECT_EQ(ReadFileBytes(target_), rescued);
  ASSERT_TRUE(window->MapWindow() && window->MapWindow()->picture().map);
  EXPECT_TRUE(window->MapWindow()->isVisible());
  EXPECT_EQ(window->MapWindow()->picture().map->Bytes(AreaStatus::kUnreadable), 14435);
}

// Paths that hold ";", where the worker splits its one argument text, go to it as separate
// arguments: every copy here runs to the end.
TEST_F(MainWindowTest, AnExistingTargetThatIsNoRescueOfTheSourceIsAskedAbout) {
  source_ = dir_.Path("disc;1.iso");
  target_ = dir_.Path("rescued;1.iso");
  const std::vector<unsigned char> source = PatternBytes(1000);
  WriteFileBytes(source_, source);
  const std::vector<unsigned char> foreign(300, 'x'), longer(2000, 'y');
  std::vector<unsigned char> resumed = foreign;
  resumed.insert(resumed.end(), source.begin() + 300, source.end());
  const std::string held =
      "Existing target file: The target file already holds 300 Bytes that are not a rescue of "
      "this source.\nResume after its bytes, start over with an empty target file (its bytes are "
      "lost), or cancel? [Resume|Start Over|Cancel]";
  const std::string too_long =
      "Existing target file: The target file is longer than the source file (1.95 Kb against "
      "1000 Bytes), so it is no copy of it.\nStart over with an empty target file, or cancel? "
      "[Start Over|Cancel]";
  // The target before, the answer (-1: the box closed), the question, the target after.
  using Bytes = std::vector<unsigned char>;
  // clang-format off
  const std::tuple<Bytes, int, std::string, Bytes> rows[] = {
      {foreign, 2, held, foreign}, {foreign, -1, held, foreign}, {foreign, 0, held, resumed},
      {foreign, 1, held, source}, {longer, 1, too_long, longer}, {longer, 0, too_long, source}};
  // clang-format on
  const std::unique_ptr<frmMain> window = Open(source_, target_);
  for (const auto& [before, answer, question, after] : rows) {
    std::filesystem::remove(target_ + ".map");
    WriteFileBytes(target_, before);
    services_.choices = {answer};
    ASSERT_TRUE(CopyUntilMessages(*window, before != after ? 2 : 1));
    EXPECT_EQ(services_.messages[0], question);
    EXPECT_EQ(ReadFileBytes(target_), after) << question << " " << answer;
    EXPECT_EQ(State(*window), kIdle);
  }
  // Our own stopped rescue, with its map, resumes without a question.
  WriteFileBytes(target_, {source.begin(), source.begin() + 300});
  WriteMap(target_ + ".map", source_, 1000, {{300, 700, AreaStatus::kUntried}});
  ASSERT_TRUE(CopyUntilMessages(*window));
  EXPECT_EQ(services_.messages, Messages{kFinished});
  EXPECT_EQ(ReadFileBytes(target_), source);
}

// A map of 18,240 bytes in 1,824 cells of 10 bytes: cell 1 holds one unreadable byte, cell 2
// one untried byte; cells 500 to 749 are unreadable, and from 1200 on untried.
TEST_F(MainWindowTest, TheMapWindowShowsTheWorstOfEachCellAndFollowsItsFile) {
  const std::string map_path = dir_.Path("rescued disc.iso.map");
  // clang-format off
  WriteMap(map_path, "/media/cdrom/disk.img", 18240,
           {{15, 1, AreaStatus::kUnreadable}, {29, 1, AreaStatus::kUntried},
            {5000, 2500, AreaStatus::kUnreadable}, {12000, 6240, AreaStatus::kUntried}});
  // clang-format on
  frmMap window(nullptr);
  window.Follow(Q(map_path));
  ASSERT_TRUE(window.picture().map.has_value());
  // The picture as a whole, against the image a person has reviewed (tests/app/reference);
  // MENDRA_WRITE_REFERENCE=DIR writes the render to DIR instead.
  MapPicture picture = window.picture();
  picture.map_path = "/home/user/rescued disc.iso.map";
  const QImage drawn = DrawRescueMap(picture).image();
  const QString reviewed = QDir(REFERENCE_DIR).filePath("rescue-map.png");
  if (const QString write_to = qEnvironmentVariable("MENDRA_WRITE_REFERENCE");
      !write_to.isEmpty()) {
    EXPECT_TRUE(drawn.save(QDir(write_to).filePath("rescue-map.png")));
  } else if (drawn != QImage(reviewed).convertToFormat(drawn.format())) {
    drawn.save(QDir::temp().filePath("rescue-map.png"));
    ADD_FAILURE() << qPrintable(reviewed) << " differs from the render in "
                  << qPrintable(QDir::tempPath());
  }

  // Each replacement of the file shows; a file that is no map says so.
  WriteMap(map_path, "/media/cdrom/disk.img", 18240, {});
  window.MapTimer_Timer();
  EXPECT_EQ(window.picture().map->Bytes(AreaStatus::kRescued), 18240);
  std::ofstream(map_path + ".new") << "Dear diary,\n";
  std::filesystem::rename(map_path + ".new", map_path);
  window.MapTimer_Timer();
  EXPECT_FALSE(window.picture().map.has_value());
  EXPECT_TRUE(window.picture().problem.startsWith("This file is not a rescue map: "));
}

TEST_F(MainWindowTest, TheFileDialogsListASlowMediumWithoutReadingAFile) {
  if (!testing_support::FuseAvailable()) SKIP_OR_FAIL_IN_CI("/dev/fuse cannot be opened");
  WriteFileBytes(dir_.Path("image"), PatternBytes(4096));
  const testing_support::DamagedMount medium(DAMAGEDFS_PATH, dir_, dir_.Path("image"), {}, {},
                                             {{0, 4096}}, 200000);
  ASSERT_TRUE(medium.served()) << medium.log();
  for (const DialogForm form : {DialogForm::kOpen, DialogForm::kSave}) {
    const auto dialog = NewFileDialog(nullptr, form, "Select", Q(medium.file()), "All Files (*)");
    dialog->show();
    const auto* model = dialog->findChild<QFileSystemModel*>();
    ASSERT_NE(model, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return model->index(Q(medium.file())).isValid(); }));
    EXPECT_EQ(model->type(model->index(Q(medium.file()))), "File");
    QTest::qWait(300);  // what the listing fetches in the background
  }
  EXPECT_TRUE(ReadFileBytes(medium.trace()).empty());
  // Content sniffing, as Qt's own icon provider does it, would show in the log.
  QMimeDatabase().mimeTypeForFile(Q(medium.file()));
  EXPECT_FALSE(ReadFileBytes(medium.trace()).empty());
}

TEST_F(MainWindowTest, TheEnablingChainFollowsTheDialogsAndHandEditsAndCopyChecksItsInputs) {
  WriteFileBytes(source_, PatternBytes(10240));
  const std::string other_case = dir_.Path("SOURCE FILE.bin");
  WriteFileBytes(other_case, PatternBytes(1536));
  const std::unique_ptr<frmMain> window = Open();
  EXPECT_EQ(State(*window), "Copy, Ready...: SF B1");

  Pick(window->B1(), source_);
  EXPECT_EQ(window->SS()->text(), "Size: 10 Kb");
  EXPECT_EQ(State(*window), "Copy, Ready...: SF TF B2 B1");
  // The source taken as the target is refused.
  Pick(window->B2(), source_);
  const std::string same =
      "Wrong directory !: Destination directory can't be same as the Source "
      "directory!\nPlease select another destination directory !";
  // So is another name of the source's own file.
  std::filesystem::create_hard_link(source_, dir_.Path("link"));
  Pick(window->B2(), dir_.Path("link"));
  EXPECT_EQ(services_.messages, Messages({same, same}));
  EXPECT_EQ(window->TF()->text(), "");
  EXPECT_EQ(State(*window), "Copy, Ready...: SF TF B2 B1");

  // A path that differs only in letter case names another file here.
  Pick(window->B2(), other_case);
  EXPECT_EQ(window->TF()->text(), Q(other_case));
  EXPECT_EQ(window->TS()->text(), "Curent size: 1.5 Kb");
  EXPECT_EQ(State(*window), kIdle);

  // Hand edits: an empty target locks the options; a new target holds nothing yet.
  window->TF()->clear();
  EXPECT_EQ(State(*window), "Copy, Ready...: SF TF B2 B1");
  Pick(window->B2(), target_);
  EXPECT_EQ(window->TS()->text(), "Curent size: 0 Bytes");
  // Emptying the source empties and locks the whole target side.
  window->SF()->clear();
  EXPECT_EQ(window->TF()->text(), "");
  EXPECT_EQ(State(*window), "Copy, Ready...: SF B1");

  // Copy refuses missing inputs in order: source, target, buffer size.
  window->BS()->setCurrentIndex(-1);
  window->buttonCopy_Click();
  window->SF()->setText(Q(source_));
  window->buttonCopy_Click();
  window->TF()->setText(Q(target_));
  window->buttonCopy_Click();
  EXPECT_EQ(services_.messages,
            Messages({same, same, "Empty source file!: Please select source file!",
                      "Empty target file!: Please select target file!",
                      "Empty buffer size!: Please select buffer size!"}));
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
  EXPECT_TRUE(window == nullptr && splash.UT().isActive());
  splash.UT_Timer();
  EXPECT_FALSE(window == nullptr || splash.UT().isActive() || splash.isVisible() || loaded);
  EXPECT_EQ(services_.messages,
            Messages({"Error: Cant find vrel! Please copy vrel in application folder!", "end 1"}));
  // So does a folder of that name, or nothing at all.
  std::filesystem::create_directories(dir_.Path("folder/vrel"));
  for (const char* folder : {"folder", "nothing"})
    EXPECT_FALSE(frmMain(services_, Q(dir_.Path(folder))).Load()) << folder;
}

TEST_F(MainWindowTest, TheAboutWindowIsModalAndItsLinkOpensTheReadme) {
  const std::unique_ptr<frmMain> window = Open();
  Click(window->btnAbout());
  const QPointer<frmAbout> about = qobject_cast<frmAbout*>(QApplication::activeModalWidget());
  ASSERT_FALSE(about.isNull());
  QTest::mouseClick(about->lblUrl(), Qt::LeftButton);
  ASSERT_EQ(services_.messages.size(), 1u);
  EXPECT_TRUE(QFileInfo(Q(services_.messages[0].substr(4))).isFile()) << services_.messages[0];
  Click(about->buttonExit());
  ASSERT_TRUE(WaitUntil([&] { return about.isNull(); }));
}

TEST(DisplaySizeTest, CountsInTheLargestUnitReached) {
  // 1.125 and 1.375 go to the even digit, down and up; 1048575 rounds to 1024 below the Mb
  // threshold; 4.7 GB lie past 32 bits; and there is no singular.
  // clang-format off
  const std::pair<std::int64_t, const char*> rows[] = {
      {0, "0 Bytes"},       {1, "1 Bytes"},          {1023, "1023 Bytes"}, {1024, "1 Kb"},
      {1152, "1.12 Kb"},    {1408, "1.38 Kb"},       {1048575, "1024 Kb"}, {1048576, "1 Mb"},
      {2147483647, "2 Gb"}, {4700000000, "4.38 Gb"}, {1LL << 40, "1 Tb"}};
  // clang-format on
  {
    testing_support::ScopedLocale c("C");
    for (const auto& [count, text] : rows) EXPECT_EQ(DisplaySize(count).toStdString(), text);
  }
  testing_support::ScopedLocale comma(testing_support::kCommaLocale);
  if (!comma.ok())
    SKIP_OR_FAIL_IN_CI("locale de_DE.UTF-8 is missing (scripts/bootstrap.sh makes it)");
  EXPECT_EQ(DisplaySize(1152).toStdString(), "1,12 Kb");
}

// The estimate on a clock that stands still until the test moves it; every row starts a job of
// its own. Past the end nothing is left; past a day the hours keep counting (a long rescue must not
// look nearly done); 2.8 million hours are no estimate; fractions of a second round to the
// nearest second, a half to the even one, and the rounding carries into the minutes.
TEST(TimeRemainTest, RemainingTextFromElapsedTimeAndPercent) {
  TimeRemain::Clock::time_point now{std::chrono::hours(1000)};
  TimeRemain estimate([&] { return now; });
  EXPECT_EQ(estimate.RemainingText(50), "");  // no job yet

  // clang-format off
  const std::tuple<int, double, const char*> rows[] = {
      {120000, 50, "00:02:00"}, {60000, 25, "00:03:00"}, {60000, 100, "00:00:00"},
      {60000, 150, "00:00:00"}, {60000, 0, ""}, {60000, std::nan(""), ""}, {3600000, 1, "99:00:00"},
      {360000000, 50, "100:00:00"}, {1000, 1e-8, ""}, {1500, 50, "00:00:02"},
      {2500, 50, "00:00:02"}, {59500, 50, "00:01:00"}};
  // clang-format on
  for (const auto& [elapsed, percent, text] : rows) {
    estimate.MarkStart();
    now += std::chrono::milliseconds(elapsed);
    EXPECT_EQ(estimate.RemainingText(percent), *text ? kRemainingPrefix + QString(text) : "")
        << elapsed << " ms, " << percent << " %";
  }
}

}  // namespace
