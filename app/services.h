// What the windows ask of the desktop: modal message boxes, the file dialogs, opening an address,
// and ending the program. The program uses QtServices; tests install a recording fake, so that no
// test ever waits on a modal window.
#pragma once

#include <QString>
#include <QUrl>

class QWidget;

class Services {
 public:
  enum class Icon { kInformation, kExclamation };

  virtual ~Services() = default;

  // A modal message box over `parent` (may be null) with `text`, `title`, `icon` and an OK
  // button; returns once it has been closed.
  virtual void MsgBox(QWidget* parent, const QString& text, const QString& title, Icon icon) = 0;

  // The file dialog in its open or save form: `title`, starting at `file_name` (a full path, or
  // empty), listing files by `filter` (Qt's form, "All Files (*)"). Returns the chosen full path,
  // or the empty text when nothing was chosen. The save form never asks whether to replace an
  // existing file: choosing an existing target means resuming it.
  virtual QString ShowOpen(QWidget* parent, const QString& title, const QString& file_name,
                           const QString& filter) = 0;
  virtual QString ShowSave(QWidget* parent, const QString& title, const QString& file_name,
                           const QString& filter) = 0;

  // Opens `url` with the desktop's opener (a browser, a viewer) without waiting for it; false when
  // nothing could be started.
  virtual bool OpenUrl(const QUrl& url) = 0;

  // Ends the program with `code` as soon as the running event handler returns.
  virtual void EndProgram(int code) = 0;
};

// The real thing: QMessageBox, QFileDialog, QDesktopServices and QCoreApplication::exit.
class QtServices final : public Services {
 public:
  void MsgBox(QWidget* parent, const QString& text, const QString& title, Icon icon) override;
  QString ShowOpen(QWidget* parent, const QString& title, const QString& file_name,
                   const QString& filter) override;
  QString ShowSave(QWidget* parent, const QString& title, const QString& file_name,
                   const QString& filter) override;
  bool OpenUrl(const QUrl& url) override;
  void EndProgram(int code) override;
};
