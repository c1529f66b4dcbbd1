#pragma once

#include <QDialog>
#include <QTest>
#include <QTimer>
#include <functional>

// Opens a modal dialog through `open` and runs `inside` once the dialog's own loop is
// running. The test is expected to close the dialog; a watchdog closes it after `boundMs`
// otherwise. Returns false when the watchdog had to.
inline bool RunInsideModal(QDialog& dialog, const std::function<void()>& open,
                           const std::function<void()>& inside, int boundMs = 10000) {
  bool timedOut = false;
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, &dialog, [&] {
    timedOut = true;
    dialog.reject();
  });
  QTimer::singleShot(0, &dialog, [&] {
    if (QTest::qWaitForWindowActive(&dialog, 5000)) inside();
  });
  watchdog.start(boundMs);
  open();
  watchdog.stop();
  return !timedOut;
}
