#include "ui/error_box.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>

std::string ErrorBox::Caption() {
  const QString name = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
  return name.section('.', 0, 0).toStdString();
}

std::string ErrorBox::Text(const std::string& message) {
  if (!message.empty() && message.back() == '.') return message;
  return message + ".";
}

void ErrorBox::Show(const std::string& message, QWidget* parent) {
  QMessageBox::critical(parent, QString::fromStdString(Caption()),
                        QString::fromStdString(Text(message)));
}
