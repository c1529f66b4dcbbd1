#pragma once

#include <QRect>
#include <QString>

class QLabel;
class QPushButton;
class QWidget;

// Makers of the designed controls: each gets its control name as object name and its designed
// position; labels size themselves to their text; no button answers Enter.
QLabel* MakeLabel(QWidget* parent, const char* name, const QString& caption, int left, int top);
QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption,
                        const QRect& geometry);
