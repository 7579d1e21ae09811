#include "app/frmmain.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>

#include <sys/wait.h>

#include <array>
#include <climits>
#include <cstring>
#include <utility>

#include "app/buffersizes.h"
#include "app/displaysize.h"
#include "app/forms.h"
#include "app/frmabout.h"
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

}  // namespace

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
  setTabOrder(button_copy_, btn_about_);

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

bool frmMain::Copying() const { return button_copy_->Caption() != kCopy; }

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
  if (chosen == sf_->text()) {
    Message(QStringLiteral("Destination directory can't be same as the Source directory!\n"
                           "Please select another destination directory !"),
            QStringLiteral("Wrong directory !"));
    return;
  }
  tf_->setText(chosen);
  // A new target has no length yet: TS then keeps what it shows.
  if (const std::int64_t length = LengthOf(chosen); length >= 0) {
    SetFittedText(ts_, kCurentSize + DisplaySize(length));
  }
  bs_->setEnabled(true);
  button_copy_->SetEnabled(true);
}

void frmMain::buttonCopy_Click() {
  if (Copying()) {
    EndJob();
    StopCopyng();
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
  StartJob(source, target, *bytes);
}

void frmMain::StartJob(const QString& source, const QString& target, qint32 bytes) {
  button_copy_->SetCaption(kStop);
  SetInputsEnabled(false);
  sc_.start();
  il_->setText(kCopying);
  time_remain_.MarkStart();
  etat_.start();
  job_target_ = target;
  const std::uint64_t job = ++job_;

  QString error;
  const bool started = launcher_.StartCopy(source, target, bytes, &error);
  if (job != job_) {
    // A STOP or Exit ran while the worker was being started: this start is void.
    if (started) launcher_.StopCopyng();
    return;
  }
  if (!started) FailJob(error);
}

void frmMain::EndJob() {
  sc_.stop();
  etat_.stop();
  ++job_;
  button_copy_->SetCaption(kCopy);
  SetInputsEnabled(true);
  il_->setText(kReady);
}

void frmMain::FinishJob() {
  EndJob();
  pb_->SetValue(0);
  ShowTargetSize();
  Message(QStringLiteral("Copy sucessfuly finished!"), QStringLiteral("File Copy"),
          Services::Icon::kInformation);
}

void frmMain::FailJob(const QString& why) {
  EndJob();
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
  services_.EndProgram(0);
}

void frmMain::btnAbout_Click() {
  auto* about = new frmAbout(services_, this);  // NOLINT(cppcoreguidelines-owning-memory)
  about->show();                                // modal, and deletes itself when closed
}

void frmMain::SC_Timer() {
  const std::uint64_t job = job_;
  QCoreApplication::processEvents();
  if (job != job_ || !Copying()) return;  // a STOP or Exit has run meanwhile

  if (EndIfWorkerEnded()) return;
  if (const std::optional<double> percent =
          platform::ParseNumber(ChannelValue(platform::kPercentKey))) {
    const double whole = platform::RoundHalfEven(*percent);
    if (whole >= INT_MIN && whole <= INT_MAX) pb_->SetValue(static_cast<int>(whole));
  }
  ShowTargetSize();
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
  if (const std::optional<QString> text =
          time_remain_.RemainingTextOf(ChannelValue(platform::kPercentKey))) {
    SetFittedText(et_, *text);
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
