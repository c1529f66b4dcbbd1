#include "ui/list_style.h"

#include <QApplication>
#include <QStyleFactory>
#include <QStyleOptionComplex>

// A base of the application's own kind, owned by the proxy.
ListStyle::ListStyle() : QProxyStyle(QStyleFactory::create(QApplication::style()->name())) {}

QRect ListStyle::subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                                SubControl subControl, const QWidget* widget) const {
  if (control == CC_ComboBox) {
    const QRect r = option->rect;
    switch (subControl) {
      case SC_ComboBoxArrow:
        return visualRect(option->direction, r,
                          QRect(r.right() - kButtonWidth + 1, r.top(), kButtonWidth, r.height()));
      case SC_ComboBoxEditField:
        return visualRect(
            option->direction, r,
            QRect(r.left() + kFrameWidth, r.top() + kFrameWidth,
                  r.width() - kFrameWidth - kButtonWidth, r.height() - 2 * kFrameWidth));
      default:
        break;
    }
  }
  return QProxyStyle::subControlRect(control, option, subControl, widget);
}
