#include "viewer/viewer_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

bool InstallViewerTranslations(QCoreApplication* application, const QLocale& locale) {
  auto* qt = new QTranslator(application);
  if (qt->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
               QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QCoreApplication::installTranslator(qt);
  } else {
    delete qt;
  }
  // Built from viewer/translations/*.ts and embedded in the program.
  auto* own = new QTranslator(application);
  if (own->load(locale, QStringLiteral("varnel-view"), QStringLiteral("_"),
                QStringLiteral(":/i18n"))) {
    QCoreApplication::installTranslator(own);
    return true;
  }
  delete own;
  return false;
}
