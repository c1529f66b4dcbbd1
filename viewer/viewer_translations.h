#pragma once

#include <QLocale>

class QCoreApplication;

// Installs the viewer's captions and Qt's own (standard dialogs, buttons) for the locale's
// language, when translations for it exist; English otherwise. True when the viewer's own
// translation was found.
bool InstallViewerTranslations(QCoreApplication* application, const QLocale& locale);
