// What the windows ask of the desktop: modal message boxes, the file dialogs, opening an address,
// and ending the program. The program uses QtServices; tests install a recording fake, so that no
// test ever waits on a modal window.
#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <memory>

class QFileDialog;
class QWidget;

class Services {
 public:
  enum class Icon { kInformation, kExclamation };

  virtual ~Services() = default;

  // A modal message box over `parent` (may be null) with `text`, `title`, `icon` and an OK
  // button; returns once it has been closed.
  virtual void MsgBox(QWidget* parent, const QString& text, const QString& title, Icon icon) = 0;

  // The same with a button for each of `buttons`, left to right; returns the index of the one
  // pressed, or -1 when the box was closed without one (Escape, the title bar).
  virtual int Ask(QWidget* parent, const QString& text, const QString& title, Icon icon,
                  const QStringList& buttons) = 0;

  // The file dialog in its open or save form: `title`, starting at `file_name` (a full path, or
  // empty), listing files by `filter` (Qt's form, "All Files (*)"). Returns the chosen full path,
  // or the empty text when nothing was chosen. The save form never asks whether to replace an
  // existing file: choosing an existing target means resuming it. The dialogs never read a
  // file's contents (icons and types come from names alone), so a folder on a damaged or slow
  // medium lists at once.
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

// The file dialog QtServices shows: Qt's own (not the desktop's, which reads files to pick
// icons), with icons and type names that come from the file's kind and name only.
enum class DialogForm { kOpen, kSave };
std::unique_ptr<QFileDialog> NewFileDialog(QWidget* parent, DialogForm form, const QString& title,
                                           const QString& file_name, const QString& filter);

// The real thing: QMessageBox, QFileDialog, QDesktopServices and QCoreApplication::exit.
class QtServices final : public Services {
 public:
  void MsgBox(QWidget* parent, const QString& text, const QString& title, Icon icon) override;
  int Ask(QWidget* parent, const QString& text, const QString& title, Icon icon,
          const QStringList& buttons) override;
  QString ShowOpen(QWidget* parent, const QString& title, const QString& file_name,
                   const QString& filter) override;
  QString ShowSave(QWidget* parent, const QString& title, const QString& file_name,
                   const QString& filter) override;
  bool OpenUrl(const QUrl& url) override;
  void EndProgram(int code) override;
};
