// Every caption and list item of the three windows is shown whole at the designed geometry:
// its text, in the control's own font, fits the control's content rectangle, and the control
// lies inside its window.

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QStyleOptionFrame>
#include <functional>
#include <string>
#include <vector>

#include "app/monitor_settings.h"
#include "tests/ui/modal_runner.h"
#include "ui/app_font.h"
#include "ui/main_window.h"
#include "ui/settings_dialog.h"
#include "ui/version_dialog.h"

namespace {

// QLineEdit keeps this many pixels free on each side of its text (QLineEditPrivate).
constexpr int kLineEditSideMargin = 2;

struct Caption {
  QWidget* control;
  QString text;
};

// The width the control has for its text.
int ContentWidth(QWidget* control) {
  QStyle* style = control->style();
  if (auto* button = qobject_cast<QPushButton*>(control)) {
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    return style->subElementRect(QStyle::SE_PushButtonContents, &option, button).width();
  }
  if (auto* list = qobject_cast<QComboBox*>(control)) {
    // The text part of an editable list: the line edit's contents less its text margins and
    // its own padding, within the line edit, which must lie within the list's edit field.
    QStyleOptionComboBox option;
    option.initFrom(list);
    option.editable = list->isEditable();
    option.subControls = QStyle::SC_All;
    const QRect field =
        style->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, list);
    QLineEdit* edit = list->lineEdit();
    if (!field.contains(edit->geometry())) return 0;
    QStyleOptionFrame frame;
    frame.initFrom(edit);
    frame.lineWidth = 0;
    const QRect contents = edit->style()
                               ->subElementRect(QStyle::SE_LineEditContents, &frame, edit)
                               .marginsRemoved(edit->textMargins())
                               .adjusted(kLineEditSideMargin, 0, -kLineEditSideMargin, 0);
    return contents.intersected(edit->rect()).width();
  }
  return control->contentsRect().width();
}

// Each caption of a window, in its control's font, against its content width.
void ExpectWhole(QWidget* window, const std::vector<Caption>& captions) {
  for (const Caption& caption : captions) {
    SCOPED_TRACE(window->objectName().toStdString() + "." +
                 caption.control->objectName().toStdString() + " \"" + caption.text.toStdString() +
                 "\"");
    const int text = QFontMetrics(caption.control->font()).horizontalAdvance(caption.text);
    EXPECT_LE(text, ContentWidth(caption.control));
    EXPECT_TRUE(window->rect().contains(caption.control->geometry()))
        << caption.control->geometry().x() << "," << caption.control->geometry().y() << " "
        << caption.control->width() << "x" << caption.control->height();
  }
}

class CaptionWidthTest : public ::testing::Test {
 protected:
  void SetUp() override { AppFont::Apply(); }
  void TearDown() override { QApplication::setFont(QFont()); }
};

TEST_F(CaptionWidthTest, MainWindowCaptionsAreWhole) {
  TForm1 form(TForm1::Environment{{}, "/nonexistent/varnel.ini", "/nonexistent"});
  form.show();
  ExpectWhole(&form, {{form.Label10, form.Label10->text()},
                      {form.Label1, form.Label1->text()},
                      {form.Button4, form.Button4->text()},
                      {form.Button2, form.Button2->text()},
                      {form.Button3, form.Button3->text()},
                      {form.Button1, form.Button1->text()},
                      {form.Button5, form.Button5->text()}});
}

TEST_F(CaptionWidthTest, SettingsDialogCaptionsAndListItemsAreWhole) {
  TForm2 form;
  MonitorSettings settings;
  settings.IPAddress = "127.0.0.1";
  const bool closed = RunInsideModal(
      form, [&] { form.Open(settings); },
      [&] {
        std::vector<Caption> captions;
        for (QLabel* label :
             {form.Label1, form.Label2, form.Label3, form.Label4, form.Label5, form.Label6,
              form.Label7, form.Label8, form.Label9, form.Label10, form.Label11}) {
          captions.push_back({label, label->text()});
        }
        captions.push_back({form.Button1, form.Button1->text()});
        captions.push_back({form.Button2, form.Button2->text()});
        for (QComboBox* list : {form.ComboBox1, form.ComboBox2}) {
          ASSERT_EQ(list->count(), 2);
          for (int i = 0; i < list->count(); ++i) captions.push_back({list, list->itemText(i)});
        }
        ExpectWhole(&form, captions);
        form.reject();
      });
  EXPECT_TRUE(closed);
}

TEST_F(CaptionWidthTest, VersionDialogCaptionsAreWhole) {
  TForm3 form;
  const bool closed = RunInsideModal(
      form, [&] { form.Open(); },
      [&] {
        ExpectWhole(&form, {{form.Label2, form.Label2->text()},
                            {form.Label1, form.Label1->text()},
                            {form.Label3, form.Label3->text()},
                            {form.Button1, form.Button1->text()}});
        form.reject();
      });
  EXPECT_TRUE(closed);
}

}  // namespace
