#pragma once

#include <QColor>
#include <QList>
#include <QTreeWidget>
#include <functional>

class LogColumns;

// The log's devices with their latest values, each with a check box that shows it in the
// chart and, once shown, a swatch of its line's colour.
class DeviceList : public QTreeWidget {
  Q_OBJECT

 public:
  explicit DeviceList(QWidget* parent = nullptr);

  // The log (not owned; null for none): the list is built anew, nothing ticked.
  void SetLog(const LogColumns* log);
  // Adds the devices that appeared since, and shows every latest value.
  void Sync();
  void SetChecked(const QList<int>& devices);
  // In the log's order.
  QList<int> CheckedDevices() const;
  // Hides the devices whose names do not contain the text.
  void SetFilter(const QString& text);
  // Paints the swatches: the colour of each device's line, invalid for one not shown.
  void SetColors(const std::function<QColor(int)>& colorOf);

 signals:
  void CheckedChanged();

 private:
  void ApplyFilter(QTreeWidgetItem* item) const;

  const LogColumns* log_ = nullptr;
  QString filter_;
  bool syncing_ = false;
};
