#include "app/frmmain.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QScreen>

#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <utility>
#include <vector>

#include "app/buffersizes.h"
#include "app/displaysize.h"
#include "app/forms.h"
#include "app/frmabout.h"
#include "app/frmmap.h"
#include "controls/brain.h"
#include "controls/magicbutton.h"
#include "controls/xp_progressbar.h"
#include "platform/core/number_text.h"
#include "platform/core/progress_channel.h"

namespace {

// The file dialog's filter: every file (a damaged file need not have an extension).
const QString kAllFiles = QStringLiteral("All Files (*)");

const QString kCopy = QStringLiteral("Copy");
const QString kStop = QStringLiteral("STOP");
const QString kReady = QStringLiteral("Ready...");
const QString kCopying = QStringLiteral("Copying...");
const QString kRetrying = QStringLiteral("Retrying unreadable areas...");
const QString kCurentSize = QStringLiteral("Curent size: ");

constexpr gui::ColorRef kBlack = gui::Rgb(0, 0, 0);
constexpr gui::ColorRef kWhite = gui::Rgb(255, 255, 255);

// The group frames and the frames around the two text fields.
const std::array<Outline, 5> kOutlines = {{
    {TwipsRect(105, 960, 4185, 765), kBlack},    // Shape1, source group
    {TwipsRect(195, 1170, 3585, 255), kBlack},   // Shape2, around SF
    {TwipsRect(105, 1920, 4185, 765), kBlack},   // Shape4, destination group
    {TwipsRect(195, 2130, 3585, 255), kBlack},   // Shape3, around TF
    {TwipsRect(105, 2850, 4185, 1605), kBlack},  // Shape5, options group
}};

// The labels' font: MS Sans Serif 8.25, the font of every label in the program's windows.
const gui::FontDesc kFormFont{};

QLineEdit* AddTextField(QWidget* parent, const QRect& rect) {
  auto* field = new QLineEdit(parent);  // NOLINT(cppcoreguidelines-owning-memory): parent owns
  field->setFrame(false);
  field->setGeometry(rect);
  field->setTextMargins(0, 0, 0, 0);
  return field;
}

MagicButton* AddButton(QWidget* parent, const QRect& rect, const QString& caption,
                       gui::ColorRef fore_over, bool enabled) {
  auto* button = new MagicButton(parent);  // NOLINT(cppcoreguidelines-owning-memory): parent owns
  button->setGeometry(rect);
  button->ReadProperties(ButtonDesign(caption, fore_over, enabled));
  return button;
}

// For the labels that size to their text.
void SetFittedText(QLabel* label, const QString& text) {
  label->setText(text);
  label->adjustSize();
}

// Why a worker that ended without "Finished" ended, in words for the message box.
QString EndReason(const PKill::WorkerEnd& end) {
  if (!end.reason.isEmpty()) return end.reason;
  if (end.wait_status && WIFSIGNALED(*end.wait_status)) {
    const int signal = WTERMSIG(*end.wait_status);
    return QStringLiteral("The copy worker was ended from outside (signal %1, %2).")
        .arg(signal)
        .arg(QString::fromLocal8Bit(strsignal(signal)));
  }
  if (end.wait_status && WIFEXITED(*end.wait_status)) {
    return QStringLiteral("The copy worker ended with exit status %1 without a reason.")
        .arg(WEXITSTATUS(*end.wait_status));
  }
  return QStringLiteral("The copy worker ended without saying why.");
}

// Whether the two paths name one file (also through a hard link): same device and inode.
bool SameFile(const QString& a, const QString& b) {
  struct stat first {};
  struct stat second {};
  return ::stat(QFile::encodeName(a).constData(), &first) == 0 &&
         ::stat(QFile::encodeName(b).constData(), &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

// A byte count for a message: the size label's text, with the exact count from 1 Kb on.
QString BytesText(std::int64_t count) {
  const QString shown = DisplaySize(count);
  return count < 1024 ? shown : QStringLiteral("%1 (%2 bytes)").arg(shown).arg(count);
}

// The map beside `target` when it is the map of `source` as the worker names it; else nullopt.
std::optional<platform::RescueMap> MapOf(const QString& source, const QString& target) {
  QString problem;
  std::optional<platform::RescueMap> map = ReadRescueMap(MapPathOf(target), &problem);
  if (map && map->Describes(QFile::encodeName(source).toStdString(), LengthOf(source))) return map;
  return std::nullopt;
}

}  // namespace

double frmMain::JobProgress::Bar(double percent) const {
  if (retry_areas.empty()) return percent;
  // Percent names the first byte (1-based) of the block the worker reads.
  const double at = percent * static_cast<double>(source_size) / 100 - 1;
  double done = 0;
  for (const platform::MapArea& area : retry_areas) {
    done += std::clamp(at - static_cast<double>(area.pos), 0.0, static_cast<double>(area.size));
  }
  return retry_bytes > 0 ? 100 * done / static_cast<double>(retry_bytes) : 100;
}

double frmMain::JobProgress::Own(double percent) const {
  if (!retry_areas.empty()) return Bar(percent);
  const double left = static_cast<double>(source_size - start);
  if (left <= 0) return 100;
  const double at = percent * static_cast<double>(source_size) / 100 - 1;
  return std::clamp(100 * (at - static_cast<double>(start)) / left, 0.0, 100.0);
}

frmMain::frmMain(Services& services, QString program_folder)
    : services_(services),
      launcher_(std::move(program_folder)),
      channel_(platform::kChannelApplication) {
  setWindowTitle(QStringLiteral("Mendra 2"));
  // A fixed single border with a minimize button and no maximize button.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(TwipsToPixels(4335), TwipsToPixels(4545));
  setFont(gui::Font(kFormFont).qfont());
  QPalette white = palette();
  white.setColor(QPalette::Window, Qt::white);
  white.setColor(QPalette::Base, Qt::white);
  white.setColor(QPalette::Text, Qt::black);
  setPalette(white);
  background_ = PaintBackground(size(), kWhite, BannerPicture(), kOutlines);

  const LabelLook caption{kFormFont, kBlack, true};
  const LabelLook plain{kFormFont, kBlack, false};
  // Source group.
  AddLabel(this, QStringLiteral("Source File:"), TwipsRect(195, 870, 840, 195), caption);
  sf_ = AddTextField(this, TwipsRect(225, 1200, 3525, 195));
  b1_ = AddButton(this, TwipsRect(3825, 1170, 315, 255), QStringLiteral("..."), kBlack, true);
  ss_ = AddLabel(this, QStringLiteral("Size: 0 Bytes"), TwipsPoint(195, 1470), plain);

  // Destination group.
  AddLabel(this, QStringLiteral("Destination File:"), TwipsRect(195, 1830, 1125, 195), caption);
  tf_ = AddTextField(this, TwipsRect(225, 2160, 3525, 195));
  tf_->setEnabled(false);
  b2_ = AddButton(this, TwipsRect(3825, 2130, 315, 255), QStringLiteral("..."), kBlack, false);
  ts_ = AddLabel(this, kCurentSize + QStringLiteral("0 Bytes"), TwipsPoint(195, 2430), plain);

  // Copy options.
  AddLabel(this, QStringLiteral("Copy Options"), TwipsRect(195, 2760, 945, 195), caption);
  AddLabel(this, QStringLiteral("Buffer Size:"), TwipsRect(165, 3060, 810, 195), plain);
  bs_ = new QComboBox(this);  // NOLINT(cppcoreguidelines-owning-memory): parent owns
  bs_->setGeometry(TwipsRect(1065, 3000, 3105, 315));
  FillBufferSizeList(*bs_);
  bs_->setEnabled(false);
  il_ = AddLabel(this, kReady, TwipsRect(195, 3390, 3990, 195),
                 {kFormFont, kBlack, false, Qt::AlignHCenter | Qt::AlignTop});
  pb_ = new XP_ProgressBar(this);  // NOLINT(cppcoreguidelines-owning-memory): parent owns
  pb_->setGeometry(TwipsRect(195, 3630, 4005, 165));
  pb_->ReadProperties(MainBarDesign());
  et_ = AddLabel(this, QLatin1String(kRemainingPrefix) + QStringLiteral("00:00:00"),
                 TwipsPoint(195, 3810), plain);

  btn_about_ = AddButton(this, TwipsRect(180, 4050, 615, 315), QStringLiteral("About"),
                         gui::Rgb(108, 161, 215), true);
  btn_map_ = AddButton(this, TwipsRect(1320, 4050, 885, 315), QStringLiteral("Map"), kCopyHoverText,
                       false);
  button_copy_ = AddButton(this, TwipsRect(2325, 4050, 885, 315), kCopy, kCopyHoverText, false);
  button_exit_ = AddButton(this, TwipsRect(3330, 4050, 885, 315), QStringLiteral("Exit"),
                           gui::Rgb(192, 0, 0), true);

  // The buffer-size lookup is never seen.
  brain_ = new Brain(this);  // NOLINT(cppcoreguidelines-owning-memory): parent owns
  brain_->hide();

  setTabOrder(sf_, tf_);
  setTabOrder(tf_, bs_);
  setTabOrder(bs_, b2_);
  setTabOrder(b2_, b1_);
  setTabOrder(b1_, button_exit_);
  setTabOrder(button_exit_, button_copy_);
  setTabOrder(button_copy_, btn_map_);
  setTabOrder(btn_map_, btn_about_);

  sc_.setInterval(100);
  sc_.setTimerType(Qt::PreciseTimer);
  etat_.setInterval(500);
  connect(&sc_, &QTimer::timeout, this, &frmMain::SC_Timer);
  connect(&etat_, &QTimer::timeout, this, &frmMain::ETAT_Timer);
  connect(b1_, &MagicButton::Click, this, &frmMain::B1_Click);
  connect(b2_, &MagicButton::Click, this, &frmMain::B2_Click);
  connect(button_copy_, &MagicButton::Click, this, &frmMain::buttonCopy_Click);
  connect(button_exit_, &MagicButton::Click, this, &frmMain::buttonExit_Click);
  connect(btn_about_, &MagicButton::Click, this, &frmMain::btnAbout_Click);
  connect(btn_map_, &MagicButton::Click, this, &frmMain::btnMap_Click);

  // The job ends as soon as its worker does, not a poll later. The watch only queues the check.
  launcher_.pkill().SetWorkerEnded([this] {
    QMetaObject::invokeMethod(this, &frmMain::EndIfWorkerEnded, Qt::QueuedConnection);
  });

  // The enabling chain: an emptied source takes the target with it, an emptied target the
  // buffer size and Copy.
  connect(sf_, &QLineEdit::textChanged, this, [this](const QString& text) {
    if (!text.isEmpty()) return;
    tf_->clear();
    tf_->setEnabled(false);
    b2_->SetEnabled(false);
  });
  connect(tf_, &QLineEdit::textChanged, this, [this](const QString& text) {
    if (!text.isEmpty()) return;
    button_copy_->SetEnabled(false);
    bs_->setEnabled(false);
    if (!Copying()) btn_map_->SetEnabled(false);
  });

  CentreOnScreen(*this);
}

frmMain::~frmMain() = default;

bool frmMain::Load() {
  if (!FileExist(WorkerPath(launcher_.program_folder()))) {
    const QString name = QLatin1String(kWorkerFileName);
    Message(QStringLiteral("Cant find %1! Please copy %1 in application folder!").arg(name),
            QStringLiteral("Error"));
    services_.EndProgram(1);
    return false;
  }
  InitBrain(*brain_, *bs_);
  return true;
}

void frmMain::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawImage(0, 0, background_.image());
}

void frmMain::SetState(JobState state) {
  state_ = state;
  button_copy_->SetCaption(state == JobState::kIdle ? kCopy : kStop);
  SetInputsEnabled(state == JobState::kIdle);
  il_->setText(state == JobState::kIdle       ? kReady
               : state == JobState::kRetrying ? kRetrying
                                              : kCopying);
}

void frmMain::SetInputsEnabled(bool enabled) {
  sf_->setEnabled(enabled);
  tf_->setEnabled(enabled);
  bs_->setEnabled(enabled);
  b1_->SetEnabled(enabled);
  b2_->SetEnabled(enabled);
}

void frmMain::B1_Click() {
  cd_file_name_ = sf_->text();
  const QString chosen =
      services_.ShowOpen(this, QStringLiteral("Select source file:"), cd_file_name_, kAllFiles);
  if (chosen.isEmpty()) return;
  cd_file_name_ = chosen;
  sf_->setText(chosen);
  if (const std::int64_t length = LengthOf(chosen); length >= 0) {
    SetFittedText(ss_, QStringLiteral("Size: ") + DisplaySize(length));
  }
  tf_->setEnabled(true);
  b2_->SetEnabled(true);
}

void frmMain::B2_Click() {
  // The dialog starts with the last name either button's dialog returned.
  const QString chosen =
      services_.ShowSave(this, QStringLiteral("Select target file:"), cd_file_name_, kAllFiles);
  if (chosen.isEmpty()) return;
  cd_file_name_ = chosen;
  if (RefuseSameFile(sf_->text(), chosen)) return;
  tf_->setText(chosen);
  // A target that does not exist yet holds nothing.
  SetFittedText(ts_, kCurentSize + DisplaySize(std::max<std::int64_t>(LengthOf(chosen), 0)));
  bs_->setEnabled(true);
  button_copy_->SetEnabled(true);
  btn_map_->SetEnabled(true);
}

bool frmMain::RefuseSameFile(const QString& source, const QString& target) {
  if (target != source && !SameFile(source, target)) return false;
  Message(QStringLiteral("Destination directory can't be same as the Source directory!\n"
                         "Please select another destination directory !"),
          QStringLiteral("Wrong directory !"));
  return true;
}

void frmMain::buttonCopy_Click() {
  if (Copying()) {
    EndJob();
    StopCopyng();
    ShowStoppedNumbers();
    return;
  }
  const QString source = sf_->text();
  const QString target = tf_->text();
  if (source.isEmpty()) {
    Message(QStringLiteral("Please select source file!"), QStringLiteral("Empty source file!"));
    return;
  }
  if (target.isEmpty()) {
    Message(QStringLiteral("Please select target file!"), QStringLiteral("Empty target file!"));
    return;
  }
  const std::optional<qint32> bytes = BufferByteCount(*brain_, bs_->currentText());
  if (bs_->currentText().isEmpty() || !bytes) {
    Message(QStringLiteral("Please select buffer size!"), QStringLiteral("Empty buffer size!"));
    return;
  }
  if (RefuseSameFile(source, target)) return;
  JobProgress progress;
  if (!PrepareTarget(source, target, &progress)) return;
  StartJob(source, target, *bytes, std::move(progress));
}

bool frmMain::PrepareTarget(const QString& source, const QString& target, JobProgress* progress) {
  const std::int64_t source_size = LengthOf(source);
  std::int64_t held = std::max<std::int64_t>(LengthOf(target), 0);
  progress->source_size = source_size;
  progress->start = held;
  if (source_size < 0) return true;  // the worker says why it cannot read the source

  const std::optional<platform::RescueMap> map = MapOf(source, target);
  if (held > 0 && (!map || held > source_size)) {
    // Not our own stopped rescue: resuming after its bytes is offered only when they could be
    // the start of this source.
    enum class Choice { kResume, kStartOver, kCancel };
    QStringList buttons;
    std::vector<Choice> choices;
    QString text;
    if (held > source_size) {
      text = QStringLiteral(
                 "The target file is longer than the source file (%1 against %2), so it is no "
                 "copy of it.\nStart over with an empty target file, or cancel?")
                 .arg(DisplaySize(held), DisplaySize(source_size));
    } else {
      text = QStringLiteral(
                 "The target file already holds %1 that are not a rescue of this source.\n"
                 "Resume after its bytes, start over with an empty target file (its bytes are "
                 "lost), or cancel?")
                 .arg(DisplaySize(held));
      buttons << QStringLiteral("Resume");
      choices.push_back(Choice::kResume);
    }
    buttons << QStringLiteral("Start Over") << QStringLiteral("Cancel");
    choices.insert(choices.end(), {Choice::kStartOver, Choice::kCancel});
    const QString title = QStringLiteral("Existing target file");
    const int answer = services_.Ask(this, text, title, Services::Icon::kExclamation, buttons);
    // A box closed without an answer cancels.
    const Choice choice = answer >= 0 && answer < std::ssize(choices)
                              ? choices[static_cast<size_t>(answer)]
                              : Choice::kCancel;
    if (choice == Choice::kResume) return true;
    if (choice == Choice::kCancel) return false;
    QFile file(target);
    if (!file.resize(0)) {
      Message(QStringLiteral("Cannot empty the target file: %1").arg(file.errorString()), title);
      return false;
    }
    // A map of what the target held describes bytes that are gone now.
    QString problem;
    if (ReadRescueMap(MapPathOf(target), &problem)) QFile::remove(MapPathOf(target));
    progress->start = 0;
    SetFittedText(ts_, kCurentSize + DisplaySize(0));
    return true;
  }
  // The target holds the whole source and its map lists areas left to read: a retry pass.
  if (map && held >= source_size) {
    for (const platform::MapArea& area : map->areas()) {
      if (area.status == platform::AreaStatus::kRescued) continue;
      progress->retry_areas.push_back(area);
      progress->retry_bytes += area.size;
    }
  }
  return true;
}

void frmMain::StartJob(const QString& source, const QString& target, qint32 bytes,
                       JobProgress progress) {
  progress_ = std::move(progress);
  job_source_ = source;
  job_target_ = target;
  SetState(progress_.retry_areas.empty() ? JobState::kCopying : JobState::kRetrying);
  // The bar and the estimate start from nothing; the channel holds the last job's Percent until
  // it is emptied here, so that all it shows from now on is this job's worker's.
  pb_->SetValue(0);
  SetFittedText(et_, QString());
  std::string channel_error;
  if (!channel_.Write(platform::kChannelSection, platform::kPercentKey, "", &channel_error)) {
    qWarning("mendra: %s", channel_error.c_str());  // the worker cannot write there either
  }
  sc_.start();
  time_remain_.MarkStart();
  etat_.start();
  const std::uint64_t job = ++job_;

  QString error;
  const bool started = launcher_.StartCopy(source, target, bytes, &error);
  // STOP or Exit can arrive here: StartWorker handles every waiting event before it starts.
  if (job != job_) {
    if (started) launcher_.StopCopyng();  // that job has ended: this start is void
    return;
  }
  if (!started) FailJob(error);
}

void frmMain::EndJob() {
  sc_.stop();
  etat_.stop();
  ++job_;
  SetState(JobState::kIdle);
  btn_map_->SetEnabled(!tf_->text().isEmpty());
}

void frmMain::ShowStoppedNumbers() {
  ShowTargetSize();
  SetFittedText(et_, QString());
}

void frmMain::FinishJob() {
  EndJob();
  pb_->SetValue(0);
  ShowTargetSize();
  const std::optional<platform::RescueMap> map = MapOf(job_source_, job_target_);
  const std::int64_t lost = map ? map->Bytes(platform::AreaStatus::kUnreadable) : 0;
  if (lost == 0) {
    Message(QStringLiteral("Copy sucessfuly finished!"), QStringLiteral("File Copy"),
            Services::Icon::kInformation);
    return;
  }
  const std::int64_t areas = map->Count(platform::AreaStatus::kUnreadable);
  const QString text = QStringLiteral(
                           "Copy sucessfuly finished!\n%1 in %2 %3 could not be read.\n"
                           "Copy again retries them.")
                           .arg(BytesText(lost))
                           .arg(areas)
                           .arg(areas == 1 ? QStringLiteral("area") : QStringLiteral("areas"));
  if (services_.Ask(this, text, QStringLiteral("File Copy"), Services::Icon::kExclamation,
                    {QStringLiteral("OK"), QStringLiteral("Show Map")}) == 1) {
    btnMap_Click();
  }
}

void frmMain::FailJob(const QString& why) {
  EndJob();
  ShowStoppedNumbers();
  Message(QStringLiteral("The copy stopped before the end.\n%1").arg(why),
          QStringLiteral("Copy stopped"));
}

void frmMain::StopCopyng() {
  QString error;
  if (launcher_.StopCopyng(&error) == PKill::KillOutcome::kFailed) {
    Message(error, QStringLiteral("Copy stopped"));
  }
}

void frmMain::buttonExit_Click() {
  QString error;
  if (launcher_.pkill().KillWorker(&error) == PKill::KillOutcome::kFailed) {
    qWarning("mendra: %s", qPrintable(error));  // no window is left to show it in
  }
  sc_.stop();
  etat_.stop();
  ++job_;
  state_ = JobState::kIdle;
  services_.EndProgram(0);
}

void frmMain::btnAbout_Click() {
  auto* about = new frmAbout(services_, this);  // NOLINT(cppcoreguidelines-owning-memory)
  about->show();                                // modal, and deletes itself when closed
}

void frmMain::btnMap_Click() {
  const QString target = Copying() ? job_target_ : tf_->text();
  if (target.isEmpty()) return;
  if (map_window_ == nullptr) {
    map_window_ = new frmMap(this);  // NOLINT(cppcoreguidelines-owning-memory): this owns it
    // Beside the main window where the screen has room for it, else in the middle.
    const QRect screen = this->screen()->availableGeometry();
    const QRect main = frameGeometry();
    int left = main.right() + 8;
    if (left + map_window_->width() > screen.right()) left = main.left() - 8 - map_window_->width();
    if (left < screen.left()) {
      CentreOnScreen(*map_window_);
    } else {
      map_window_->move(left, main.top());
    }
  }
  map_window_->Follow(MapPathOf(target));
  map_window_->show();
  map_window_->raise();
  map_window_->activateWindow();
}

void frmMain::SC_Timer() {
  const std::uint64_t job = job_;
  QCoreApplication::processEvents();
  // STOP or Exit can arrive in the events just handled: they end the job, and so this tick.
  if (job != job_ || !Copying()) return;

  if (EndIfWorkerEnded()) return;
  if (const std::optional<double> percent = JobPercent()) {
    const double whole = platform::RoundHalfEven(progress_.Bar(*percent));
    if (whole >= INT_MIN && whole <= INT_MAX) pb_->SetValue(static_cast<int>(whole));
  }
  ShowTargetSize();
}

std::optional<double> frmMain::JobPercent() const {
  return platform::ParseNumber(ChannelValue(platform::kPercentKey));
}

bool frmMain::EndIfWorkerEnded() {
  if (!Copying()) return false;
  const std::optional<PKill::WorkerEnd> end = launcher_.pkill().EndedWorker();
  if (!end) return false;
  // The worker exits with status 0 exactly when it has written "Finished" for this job.
  const bool finished = end->wait_status && WIFEXITED(*end->wait_status) &&
                        WEXITSTATUS(*end->wait_status) == 0 &&
                        ChannelValue(platform::kStatusKey) == platform::kStatusFinished;
  if (finished) {
    FinishJob();
  } else {
    FailJob(EndReason(*end));
  }
  return true;
}

void frmMain::ETAT_Timer() {
  if (const std::optional<double> percent = JobPercent()) {
    SetFittedText(et_, time_remain_.RemainingText(progress_.Own(*percent)));
  }
}

void frmMain::ShowTargetSize() {
  const std::int64_t length = LengthOf(job_target_);
  if (length < 0) return;
  const QString text = kCurentSize + DisplaySize(length);
  if (ts_->text() != text) SetFittedText(ts_, text);
}

std::string frmMain::ChannelValue(std::string_view key) const {
  return channel_.Read(platform::kChannelSection, key);
}

void frmMain::Message(const QString& text, const QString& title, Services::Icon icon) {
  services_.MsgBox(this, text, title, icon);
}
