#include "app/services.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>

void QtServices::MsgBox(QWidget* parent, const QString& text, const QString& title, Icon icon) {
  QMessageBox box(icon == Icon::kExclamation ? QMessageBox::Warning : QMessageBox::Information,
                  title, text, QMessageBox::Ok, parent);
  box.exec();
}

QString QtServices::ShowOpen(QWidget* parent, const QString& title, const QString& file_name,
                             const QString& filter) {
  return QFileDialog::getOpenFileName(parent, title, file_name, filter);
}

QString QtServices::ShowSave(QWidget* parent, const QString& title, const QString& file_name,
                             const QString& filter) {
  return QFileDialog::getSaveFileName(parent, title, file_name, filter, nullptr,
                                      QFileDialog::DontConfirmOverwrite);
}

bool QtServices::OpenUrl(const QUrl& url) { return QDesktopServices::openUrl(url); }

void QtServices::EndProgram(int code) { QCoreApplication::exit(code); }
