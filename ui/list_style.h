#pragma once

#include <QProxyStyle>

// The look of the settings dialog's editable lists, with more of their designed width for the
// text: a one-pixel frame and a narrow drop-down button, so the longest item
// ("あり(-32768～+32767)") is shown whole at 141 pixels in the 12-pixel face.
class ListStyle : public QProxyStyle {
  Q_OBJECT

 public:
  // The drop-down button's width, the right border included.
  static constexpr int kButtonWidth = 12;
  static constexpr int kFrameWidth = 1;

  ListStyle();

  QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                       SubControl subControl, const QWidget* widget) const override;
};
