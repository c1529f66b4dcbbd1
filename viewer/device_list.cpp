#include "viewer/device_list.h"

#include <QHeaderView>
#include <QPainter>
#include <QPixmap>

#include "viewer/log_columns.h"

namespace {

constexpr int kNameColumn = 0;
constexpr int kValueColumn = 1;
constexpr int kDeviceRole = Qt::UserRole;

QIcon Swatch(const QColor& color) {
  QPixmap pixmap(12, 12);
  pixmap.fill(Qt::transparent);
  if (color.isValid()) {
    QPainter painter(&pixmap);
    painter.fillRect(QRect(0, 4, 12, 4), color);
  }
  return QIcon(pixmap);
}

}  // namespace

DeviceList::DeviceList(QWidget* parent) : QTreeWidget(parent) {
  setObjectName(QStringLiteral("deviceList"));
  setColumnCount(2);
  setHeaderLabels({tr("Device"), tr("Latest")});
  setRootIsDecorated(false);
  setUniformRowHeights(true);
  setAlternatingRowColors(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  header()->setStretchLastSection(false);
  header()->setSectionResizeMode(kNameColumn, QHeaderView::Stretch);
  // A fixed width: fitting the column to its contents measures every row at each new value,
  // which costs more than all else a second of new rows does.
  header()->setSectionResizeMode(kValueColumn, QHeaderView::Interactive);
  header()->resizeSection(kValueColumn,
                          fontMetrics().horizontalAdvance(QStringLiteral("-000000")) + 12);
  connect(this, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem*, int column) {
    if (!syncing_ && column == kNameColumn) emit CheckedChanged();
  });
  // A click anywhere on the row ticks it, not only on the small box.
  connect(this, &QTreeWidget::itemActivated, this, [](QTreeWidgetItem* item, int) {
    item->setCheckState(kNameColumn,
                        item->checkState(kNameColumn) == Qt::Checked ? Qt::Unchecked : Qt::Checked);
  });
}

void DeviceList::SetLog(const LogColumns* log) {
  syncing_ = true;
  clear();
  syncing_ = false;
  log_ = log;
  Sync();
}

void DeviceList::Sync() {
  if (log_ == nullptr) return;
  syncing_ = true;
  for (int device = topLevelItemCount(); device < log_->DeviceCount(); ++device) {
    auto* item = new QTreeWidgetItem;
    item->setText(kNameColumn, log_->DeviceName(device));
    item->setData(kNameColumn, kDeviceRole, device);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(kNameColumn, Qt::Unchecked);
    item->setTextAlignment(kValueColumn, Qt::AlignRight | Qt::AlignVCenter);
    item->setIcon(kNameColumn, Swatch(QColor()));
    addTopLevelItem(item);
    ApplyFilter(item);
  }
  for (int device = 0; device < topLevelItemCount(); ++device) {
    const std::optional<int32_t> latest = log_->LatestValue(device);
    const QString text = latest ? QString::number(*latest) : QStringLiteral("–");
    QTreeWidgetItem* item = topLevelItem(device);
    if (item->text(kValueColumn) != text) item->setText(kValueColumn, text);
  }
  syncing_ = false;
}

void DeviceList::SetChecked(const QList<int>& devices) {
  syncing_ = true;
  for (int device = 0; device < topLevelItemCount(); ++device) {
    topLevelItem(device)->setCheckState(kNameColumn,
                                        devices.contains(device) ? Qt::Checked : Qt::Unchecked);
  }
  syncing_ = false;
  emit CheckedChanged();
}

QList<int> DeviceList::CheckedDevices() const {
  QList<int> devices;
  for (int device = 0; device < topLevelItemCount(); ++device) {
    if (topLevelItem(device)->checkState(kNameColumn) == Qt::Checked) devices.append(device);
  }
  return devices;
}

void DeviceList::SetFilter(const QString& text) {
  filter_ = text.trimmed();
  for (int device = 0; device < topLevelItemCount(); ++device) ApplyFilter(topLevelItem(device));
}

void DeviceList::ApplyFilter(QTreeWidgetItem* item) const {
  item->setHidden(!filter_.isEmpty() &&
                  !item->text(kNameColumn).contains(filter_, Qt::CaseInsensitive));
}

void DeviceList::SetColors(const std::function<QColor(int)>& colorOf) {
  syncing_ = true;
  for (int device = 0; device < topLevelItemCount(); ++device) {
    topLevelItem(device)->setIcon(kNameColumn, Swatch(colorOf(device)));
  }
  syncing_ = false;
}
