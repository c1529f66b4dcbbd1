#include "ui/app_font.h"

#include <QApplication>
#include <QFont>

void AppFont::Apply() {
  const QString requested = QString::fromUtf8(kRequestedFamily);
  QFont::insertSubstitution(requested, QString::fromUtf8(kSubstituteFamily));
  QFont font(requested);
  font.setPixelSize(kPixelSize);
  font.setStyleHint(QFont::SansSerif);
  QApplication::setFont(font);
}
