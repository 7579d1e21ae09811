#include "app/services.h"

#include <QAbstractFileIconProvider>
#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>

namespace {

QMessageBox::Icon BoxIcon(Services::Icon icon) {
  return icon == Services::Icon::kExclamation ? QMessageBox::Warning : QMessageBox::Information;
}

// Icons and type names from what a directory listing already knows: folder, link or file, and
// the name. Qt's own provider asks the MIME database, which reads a file's first bytes when its
// name says nothing; on a damaged medium each such read can take seconds.
class NameOnlyIconProvider final : public QAbstractFileIconProvider {
 public:
  NameOnlyIconProvider() { setOptions(DontUseCustomDirectoryIcons); }

  QIcon icon(IconType type) const override {
    QStyle* style = QApplication::style();
    switch (type) {
      case Computer:
        return style->standardIcon(QStyle::SP_ComputerIcon);
      case Desktop:
        return style->standardIcon(QStyle::SP_DesktopIcon);
      case Trashcan:
        return style->standardIcon(QStyle::SP_TrashIcon);
      case Network:
        return style->standardIcon(QStyle::SP_DriveNetIcon);
      case Drive:
        return style->standardIcon(QStyle::SP_DriveHDIcon);
      case Folder:
        return style->standardIcon(QStyle::SP_DirIcon);
      case File:
        break;
    }
    return style->standardIcon(QStyle::SP_FileIcon);
  }

  QIcon icon(const QFileInfo& info) const override {
    if (info.isSymLink()) {
      return QApplication::style()->standardIcon(info.isDir() ? QStyle::SP_DirLinkIcon
                                                              : QStyle::SP_FileLinkIcon);
    }
    if (info.isRoot()) return icon(Drive);
    return icon(info.isDir() ? Folder : File);
  }

  QString type(const QFileInfo& info) const override {
    if (info.isRoot()) return QStringLiteral("Drive");
    if (info.isDir()) return QStringLiteral("Folder");
    const QString suffix = info.suffix();
    return suffix.isEmpty() ? QStringLiteral("File") : suffix.toUpper() + QStringLiteral(" File");
  }
};

QString Chosen(QFileDialog& dialog) {
  if (dialog.exec() != QDialog::Accepted) return {};
  const QStringList files = dialog.selectedFiles();
  return files.isEmpty() ? QString() : files.first();
}

}  // namespace

std::unique_ptr<QFileDialog> NewFileDialog(QWidget* parent, DialogForm form, const QString& title,
                                           const QString& file_name, const QString& filter) {
  // The dialog lists its first folder as it is made, with Qt's own provider: that folder is the
  // root, never the chosen file's folder, which may lie on the damaged medium.
  auto dialog = std::make_unique<QFileDialog>(parent, title, QDir::rootPath(), filter);
  // The dialog does not own its provider; this one holds no state and serves every dialog.
  static NameOnlyIconProvider provider;
  dialog->setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::DontUseCustomDirectoryIcons |
                     QFileDialog::DontConfirmOverwrite);
  dialog->setIconProvider(&provider);
  dialog->setAcceptMode(form == DialogForm::kOpen ? QFileDialog::AcceptOpen
                                                  : QFileDialog::AcceptSave);
  dialog->setFileMode(form == DialogForm::kOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  dialog->setDirectory(file_name.isEmpty() ? QDir::currentPath()
                                           : QFileInfo(file_name).absolutePath());
  if (!file_name.isEmpty()) dialog->selectFile(file_name);
  return dialog;
}

void QtServices::MsgBox(QWidget* parent, const QString& text, const QString& title, Icon icon) {
  QMessageBox box(BoxIcon(icon), title, text, QMessageBox::Ok, parent);
  box.exec();
}

int QtServices::Ask(QWidget* parent, const QString& text, const QString& title, Icon icon,
                    const QStringList& buttons) {
  QMessageBox box(BoxIcon(icon), title, text, QMessageBox::NoButton, parent);
  std::vector<QPushButton*> added;
  for (const QString& caption : buttons) {
    added.push_back(box.addButton(caption, QMessageBox::ActionRole));
  }
  if (!added.empty()) box.setDefaultButton(added.front());
  box.exec();
  for (size_t i = 0; i < added.size(); ++i) {
    if (box.clickedButton() == added[i]) return static_cast<int>(i);
  }
  return -1;
}

QString QtServices::ShowOpen(QWidget* parent, const QString& title, const QString& file_name,
                             const QString& filter) {
  const std::unique_ptr<QFileDialog> dialog =
      NewFileDialog(parent, DialogForm::kOpen, title, file_name, filter);
  return Chosen(*dialog);
}

QString QtServices::ShowSave(QWidget* parent, const QString& title, const QString& file_name,
                             const QString& filter) {
  const std::unique_ptr<QFileDialog> dialog =
      NewFileDialog(parent, DialogForm::kSave, title, file_name, filter);
  return Chosen(*dialog);
}

bool QtServices::OpenUrl(const QUrl& url) { return QDesktopServices::openUrl(url); }

void QtServices::EndProgram(int code) { QCoreApplication::exit(code); }
