// The five gadget kinds with their creation flags and operations.
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTest>

#include "gadget_test_support.h"
#include "qt/button_gadget.h"
#include "qt/combo_box_gadget.h"
#include "qt/event_kind.h"
#include "qt/gadget.h"
#include "qt/image_gadget.h"
#include "qt/input_validator.h"
#include "qt/progress_bar_gadget.h"
#include "qt/qt_image.h"
#include "qt/string_gadget.h"
#include "qt/wait_window_event.h"

namespace gt {
namespace {

using rt::DynamicNumber;
using rt::EventKind::Gadget;
namespace Type = rt::GadgetEventType;

class KindsTest : public GadgetTest {};

// Button

TEST_F(KindsTest, ButtonShowsAmpersandsLiterally) {
  const int64_t id = rt::ButtonGadget(DynamicNumber, 0, 0, 100, 25, u"Save & Exit");
  auto* button = static_cast<QPushButton*>(GadgetWidget(id));
  EXPECT_EQ(button->text(), "Save && Exit");
  EXPECT_TRUE(QKeySequence::mnemonic(button->text()).isEmpty());
  EXPECT_EQ(GadgetText(id), u"Save & Exit");
  rt::GadgetSetText(id, u"&&A&B");
  EXPECT_EQ(button->text(), "&&&&A&&B");
  EXPECT_EQ(GadgetText(id), u"&&A&B");
  EXPECT_TRUE(GadgetEvents().empty());
}

TEST_F(KindsTest, ButtonFlags) {
  auto button = [](int32_t flags) {
    return static_cast<QPushButton*>(GadgetWidget(rt::ButtonGadget(DynamicNumber, 0, 0, 80, 40, u"b", flags)));
  };
  EXPECT_EQ(button(0)->styleSheet(), "");
  EXPECT_EQ(button(rt::ButtonFlags::AlignRight)->styleSheet(), "text-align: right");
  EXPECT_EQ(button(rt::ButtonFlags::AlignLeft)->styleSheet(), "text-align: left");
  EXPECT_EQ(button(rt::ButtonFlags::AlignRight | rt::ButtonFlags::AlignLeft)->styleSheet(), "text-align: right");
  EXPECT_FALSE(button(0)->isCheckable());
  EXPECT_FALSE(button(0)->isDefault());
  EXPECT_TRUE(button(rt::ButtonFlags::Default)->isDefault());
}

TEST_F(KindsTest, ToggleButtonStateWithoutEvents) {
  const int64_t id = rt::ButtonGadget(DynamicNumber, 0, 0, 80, 25, u"t", rt::ButtonFlags::Toggle);
  auto* button = static_cast<QPushButton*>(GadgetWidget(id));
  EXPECT_TRUE(button->isCheckable());
  EXPECT_EQ(rt::GadgetGetState(id), 0);
  rt::GadgetSetState(id, 5);
  EXPECT_TRUE(button->isChecked());
  EXPECT_EQ(rt::GadgetGetState(id), 1);
  rt::GadgetSetState(id, 0);
  EXPECT_EQ(rt::GadgetGetState(id), 0);
  EXPECT_TRUE(GadgetEvents().empty());
  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_EQ(rt::GadgetGetState(id), 1);
  EXPECT_EQ(GadgetEvents(), (std::vector<Event>{{Gadget, id, window_, Type::LeftClick}}));
}

TEST_F(KindsTest, MultiLineButtonLeavesTheSharedStyleAlone) {
  QStyle* shared = QApplication::style();
  const int64_t id = rt::ButtonGadget(DynamicNumber, 0, 0, 60, 60, u"a long caption that wraps", rt::ButtonFlags::MultiLine);
  auto* button = static_cast<QPushButton*>(GadgetWidget(id));
  auto* style = qobject_cast<rt::KTMultiLineStyle*>(button->style());
  ASSERT_NE(style, nullptr);
  EXPECT_NE(style->baseStyle(), shared);
  EXPECT_EQ(shared->proxy(), shared);
  EXPECT_FALSE(button->grab().isNull());  // draws through drawItemText
  QPointer<QStyle> guard = style;
  rt::GadgetFree(id);
  EXPECT_TRUE(guard.isNull());  // went with the button
  EXPECT_EQ(QApplication::style(), shared);
  QPushButton other(QStringLiteral("still drawn"));
  EXPECT_FALSE(other.grab().isNull());
}

// Combo box

QComboBox* Combo(int64_t id) { return static_cast<QComboBox*>(GadgetWidget(id)); }

TEST_F(KindsTest, ComboBoxItems) {
  const int64_t id = rt::ComboBoxGadget(DynamicNumber, 0, 0, 120, 25);
  QComboBox* combo = Combo(id);
  EXPECT_EQ(rt::GadgetGetState(id), -1);
  EXPECT_EQ(rt::GadgetAddItem(id, -1, u"second"), 1);
  EXPECT_EQ(rt::GadgetGetState(id), 0);  // the first item becomes current
  EXPECT_EQ(rt::GadgetAddItem(id, -1, u"third"), 1);
  EXPECT_EQ(rt::GadgetAddItem(id, 0, u"first"), 1);
  EXPECT_EQ(rt::GadgetAddItem(id, 99, u"last"), 1);
  rt::KTGadgetFunctions* f = rt::GadgetLookup(id)->functions;
  ASSERT_EQ(f->CountItems(), 4);
  EXPECT_EQ(f->GetItemText(0), "first");
  EXPECT_EQ(f->GetItemText(1), "second");
  EXPECT_EQ(f->GetItemText(2), "third");
  EXPECT_EQ(f->GetItemText(3), "last");
  EXPECT_EQ(f->GetItemText(7), "");
  EXPECT_EQ(GadgetText(id), u"second");
  f->SetItemText(2, "THIRD");
  EXPECT_EQ(combo->itemText(2), "THIRD");
  EXPECT_EQ(f->GetItemData(1), 0);
  f->SetItemData(1, int64_t{1} << 40);
  EXPECT_EQ(f->GetItemData(1), int64_t{1} << 40);
  f->RemoveItem(0);
  EXPECT_EQ(f->CountItems(), 3);
  EXPECT_EQ(f->GetItemData(0), int64_t{1} << 40);
  f->ClearItems();
  EXPECT_EQ(f->CountItems(), 0);
  EXPECT_EQ(rt::GadgetGetState(id), -1);
  EXPECT_TRUE(GadgetEvents().empty());
}

TEST_F(KindsTest, ComboBoxProgramChangesPostNothingUserPicksDo) {
  const int64_t id = rt::ComboBoxGadget(DynamicNumber, 0, 0, 120, 25);
  QComboBox* combo = Combo(id);
  for (const char16_t* name : {u"/dev/ttyUSB0", u"/dev/ttyUSB1", u"/dev/ttyUSB2"}) rt::GadgetAddItem(id, -1, name);
  rt::GadgetSetState(id, 2);
  EXPECT_EQ(combo->currentIndex(), 2);
  rt::GadgetSetText(id, u"/dev/ttyUSB1");  // selects the matching entry
  EXPECT_EQ(rt::GadgetGetState(id), 1);
  EXPECT_EQ(GadgetText(id), u"/dev/ttyUSB1");
  Settle();
  EXPECT_TRUE(GadgetEvents().empty());

  // The user picks an entry in the list, then the same one again.
  auto pick = [combo](int row) {
    combo->showPopup();
    QAbstractItemView* view = combo->view();
    view->setCurrentIndex(combo->model()->index(row, 0));
    QTest::keyClick(view, Qt::Key_Return);
    Settle();
  };
  pick(0);
  EXPECT_EQ(combo->currentIndex(), 0);
  EXPECT_EQ(GadgetEvents(), (std::vector<Event>{{Gadget, id, window_, Type::Change}}));
  pick(0);
  EXPECT_EQ(GadgetEvents(), (std::vector<Event>{{Gadget, id, window_, Type::Change}}));
  EXPECT_EQ(GadgetText(id), u"/dev/ttyUSB0");
}

TEST_F(KindsTest, EditableComboBoxWithValidator) {
  const int64_t id = rt::ComboBoxGadget(DynamicNumber, 0, 0, 120, 25, rt::ComboBoxFlags::Editable | rt::ComboBoxFlags::LowerCase);
  QComboBox* combo = Combo(id);
  ASSERT_TRUE(combo->isEditable());
  EXPECT_EQ(combo->insertPolicy(), QComboBox::NoInsert);
  EXPECT_EQ(rt::GadgetAddItem(id, -1, u"MiXeD"), 1);  // into an empty box: current, but no event
  EXPECT_EQ(combo->itemText(0), "mixed");
  EXPECT_EQ(combo->currentText(), "mixed");
  rt::GadgetSetText(id, u"ABC");
  EXPECT_EQ(GadgetText(id), u"abc");
  Settle();
  EXPECT_TRUE(GadgetEvents().empty());

  combo->lineEdit()->clear();
  TakeAll();
  QTest::keyClicks(combo->lineEdit(), "XY");
  EXPECT_EQ(combo->currentText(), "xy");
  const std::vector<Event> typed = GadgetEvents();
  ASSERT_FALSE(typed.empty());
  EXPECT_EQ(typed.front(), (Event{Gadget, id, window_, Type::Change}));
  EXPECT_EQ(combo->count(), 1);  // typing adds no item

  rt::GadgetLookup(id)->functions->ClearItems();
  EXPECT_EQ(combo->count(), 0);
  EXPECT_EQ(combo->currentText(), "");

  QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
  QApplication::sendEvent(combo, &in);
  QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
  QApplication::sendEvent(combo, &out);
  std::vector<int64_t> focus;
  for (const Event& e : GadgetEvents())
    if (e.type != Type::Change) focus.push_back(e.type);
  EXPECT_EQ(focus, (std::vector<int64_t>{Type::FocusIn, Type::FocusOut}));
}

TEST_F(KindsTest, ComboBoxUpperCaseOnlyWithoutLowerCase) {
  const int64_t upper = rt::ComboBoxGadget(DynamicNumber, 0, 0, 80, 25, rt::ComboBoxFlags::UpperCase);
  rt::GadgetAddItem(upper, -1, u"com1");
  EXPECT_EQ(Combo(upper)->itemText(0), "COM1");
  const int64_t both = rt::ComboBoxGadget(DynamicNumber, 0, 0, 80, 25, rt::ComboBoxFlags::UpperCase | rt::ComboBoxFlags::LowerCase);
  rt::GadgetAddItem(both, -1, u"Com1");
  EXPECT_EQ(Combo(both)->itemText(0), "com1");
  const int64_t plain = rt::ComboBoxGadget(DynamicNumber, 0, 0, 80, 25);
  rt::GadgetAddItem(plain, -1, u"Com1");
  EXPECT_EQ(Combo(plain)->itemText(0), "Com1");
  // A drop-down list raises no focus events.
  QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
  QApplication::sendEvent(Combo(plain), &in);
  EXPECT_TRUE(GadgetEvents().empty());
}

TEST_F(KindsTest, ComboBoxItemImagesOnlyWithTheirFlag) {
  QImage picture(16, 16, QImage::Format_RGB888);
  picture.fill(Qt::red);
  rt::KTQImage cached(picture);
  const int64_t with = rt::ComboBoxGadget(DynamicNumber, 0, 0, 120, 25, rt::ComboBoxFlags::Images);
  rt::GadgetAddItem(with, -1, u"plain image", &picture);
  rt::GadgetAddItem(with, -1, u"cached image", &cached, 0);
  rt::GadgetAddItem(with, -1, u"none");
  EXPECT_FALSE(Combo(with)->itemIcon(0).isNull());
  EXPECT_FALSE(Combo(with)->itemIcon(1).isNull());
  EXPECT_TRUE(Combo(with)->itemIcon(2).isNull());
  rt::GadgetLookup(with)->functions->SetItemImage(2, &picture);
  EXPECT_FALSE(Combo(with)->itemIcon(2).isNull());
  rt::GadgetLookup(with)->functions->SetItemImage(2, nullptr);
  EXPECT_TRUE(Combo(with)->itemIcon(2).isNull());

  const int64_t without = rt::ComboBoxGadget(DynamicNumber, 0, 0, 120, 25);
  rt::GadgetAddItem(without, -1, u"image ignored", &picture);
  EXPECT_TRUE(Combo(without)->itemIcon(0).isNull());
  rt::GadgetFree(with);  // before the images go
  rt::GadgetFree(without);
}

// String

QLineEdit* Edit(int64_t id) { return static_cast<QLineEdit*>(GadgetWidget(id)); }

TEST_F(KindsTest, StringGadgetTypingPostsChangeSettingDoesNot) {
  const int64_t id = rt::StringGadget(DynamicNumber, 0, 0, 200, 25, u"trx.fw");
  QLineEdit* edit = Edit(id);
  EXPECT_EQ(edit->text(), "trx.fw");
  EXPECT_EQ(edit->cursorPosition(), 0);
  EXPECT_EQ(GadgetText(id), u"trx.fw");
  rt::GadgetSetText(id, u"other.fw");
  EXPECT_EQ(edit->cursorPosition(), 0);
  Settle();
  EXPECT_TRUE(GadgetEvents().empty());

  edit->end(false);
  QTest::keyClicks(edit, "x");
  EXPECT_EQ(GadgetText(id), u"other.fwx");
  EXPECT_EQ(GadgetEvents(), (std::vector<Event>{{Gadget, id, window_, Type::Change}}));
}

TEST_F(KindsTest, StringGadgetFocusEvents) {
  const int64_t first = rt::StringGadget(DynamicNumber, 0, 0, 100, 25, u"a");
  const int64_t second = rt::StringGadget(DynamicNumber, 0, 40, 100, 25, u"b");
  windowWidget_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(windowWidget_));
  Edit(first)->setFocus();
  Settle();
  TakeAll();
  Edit(second)->setFocus();
  Settle();
  EXPECT_EQ(GadgetEvents(), (std::vector<Event>{{Gadget, first, window_, Type::FocusOut}, {Gadget, second, window_, Type::FocusIn}}));
  // Clicks are not among its types.
  QTest::mouseClick(Edit(second), Qt::LeftButton);
  EXPECT_TRUE(GadgetEvents().empty());
}

TEST_F(KindsTest, StringGadgetDigitsOnly) {
  const int64_t id = rt::StringGadget(DynamicNumber, 0, 0, 100, 25, u"a1b2", rt::StringFlags::Digits);
  QLineEdit* edit = Edit(id);
  EXPECT_EQ(edit->text(), "12");
  edit->end(false);
  QTest::keyClicks(edit, "z");
  EXPECT_EQ(edit->text(), "12");
  EXPECT_EQ(edit->cursorPosition(), 2);
  QTest::keyClicks(edit, "3");
  EXPECT_EQ(edit->text(), "123");
  edit->setCursorPosition(1);
  QTest::keyClicks(edit, "q");
  EXPECT_EQ(edit->text(), "123");
  EXPECT_EQ(edit->cursorPosition(), 1);
  rt::GadgetSetText(id, u"x9y8");
  EXPECT_EQ(GadgetText(id), u"98");
}

TEST_F(KindsTest, StringGadgetCase) {
  const int64_t upper = rt::StringGadget(DynamicNumber, 0, 0, 100, 25, u"", rt::StringFlags::UpperCase);
  QTest::keyClicks(Edit(upper), "abc");
  EXPECT_EQ(Edit(upper)->text(), "ABC");
  const int64_t lower = rt::StringGadget(DynamicNumber, 0, 0, 100, 25, u"MiX", rt::StringFlags::UpperCase | rt::StringFlags::LowerCase);
  EXPECT_EQ(Edit(lower)->text(), "mix");
  const int64_t digits = rt::StringGadget(DynamicNumber, 0, 0, 100, 25, u"A1b2", 0x1C);
  EXPECT_EQ(Edit(digits)->text(), "12");
  const auto* validator = qobject_cast<const rt::KTInputValidator*>(Edit(digits)->validator());
  ASSERT_NE(validator, nullptr);
  EXPECT_EQ(validator->Mode(), rt::InputValidatorMode::Digits);
  EXPECT_EQ(Edit(rt::StringGadget(DynamicNumber, 0, 0, 10, 10, u"Keep"))->validator(), nullptr);
}

TEST_F(KindsTest, StringGadgetFlagsAndAttributes) {
  QLineEdit* password = Edit(rt::StringGadget(DynamicNumber, 0, 0, 100, 25, u"s", rt::StringFlags::Password));
  EXPECT_EQ(password->echoMode(), QLineEdit::Password);
  QLineEdit* readOnly = Edit(rt::StringGadget(DynamicNumber, 0, 0, 100, 25, u"r", rt::StringFlags::ReadOnly));
  EXPECT_TRUE(readOnly->isReadOnly());
  QLineEdit* frameless = Edit(rt::StringGadget(DynamicNumber, 0, 0, 100, 25, u"f", rt::StringFlags::NoFrame));
  EXPECT_FALSE(frameless->hasFrame());
  const int64_t id = rt::StringGadget(DynamicNumber, 0, 0, 100, 25, u"abcdef");
  EXPECT_EQ(Edit(id)->echoMode(), QLineEdit::Normal);
  EXPECT_TRUE(Edit(id)->hasFrame());
  rt::KTGadgetFunctions* f = rt::GadgetLookup(id)->functions;
  EXPECT_EQ(f->GetAttribute(1), 32767);
  f->SetAttribute(1, 3);
  EXPECT_EQ(f->GetAttribute(1), 3);
  EXPECT_EQ(Edit(id)->text(), "abc");
  f->SetAttribute(2, 9);
  EXPECT_EQ(f->GetAttribute(2), 0);
}

// Progress bar

TEST_F(KindsTest, ProgressBarStoredAndShownValues) {
  const int64_t id = rt::ProgressBarGadget(DynamicNumber, 10, 110, 380, 30, 0, 100);
  auto* bar = static_cast<QProgressBar*>(GadgetWidget(id));
  EXPECT_EQ(bar->format(), "");
  EXPECT_EQ(bar->orientation(), Qt::Horizontal);
  EXPECT_EQ(bar->value(), 0);
  rt::GadgetSetState(id, 50);
  EXPECT_EQ(bar->value(), 50);
  EXPECT_EQ(bar->maximum(), 100);
  rt::GadgetSetState(id, -1);  // busy
  EXPECT_EQ(bar->minimum(), 0);
  EXPECT_EQ(bar->maximum(), 0);
  EXPECT_EQ(rt::GadgetGetState(id), -1);
  rt::GadgetSetState(id, 70);
  EXPECT_EQ(bar->maximum(), 100);
  EXPECT_EQ(bar->value(), 70);
  rt::GadgetSetState(id, 150);
  EXPECT_EQ(bar->value(), 70);
  EXPECT_EQ(rt::GadgetGetState(id), 150);
  EXPECT_TRUE(GadgetEvents().empty());
}

TEST_F(KindsTest, ProgressBarRangeAttributes) {
  const int64_t id = rt::ProgressBarGadget(DynamicNumber, 0, 0, 30, 200, 10, 20, rt::ProgressBarFlags::Vertical);
  auto* bar = static_cast<QProgressBar*>(GadgetWidget(id));
  EXPECT_EQ(bar->orientation(), Qt::Vertical);
  rt::KTGadgetFunctions* f = rt::GadgetLookup(id)->functions;
  EXPECT_EQ(f->GetAttribute(1), 10);
  EXPECT_EQ(f->GetAttribute(2), 20);
  EXPECT_EQ(f->GetAttribute(3), 0);
  f->SetAttribute(2, 40);
  EXPECT_EQ(bar->maximum(), 40);
  f->SetState(-1);
  f->SetAttribute(1, 5);  // waits while busy
  EXPECT_EQ(bar->minimum(), 0);
  EXPECT_EQ(bar->maximum(), 0);
  f->SetState(30);
  EXPECT_EQ(bar->minimum(), 5);
  EXPECT_EQ(bar->maximum(), 40);
  EXPECT_EQ(bar->value(), 30);
}

// Image

TEST_F(KindsTest, ImageGadgetTakesTheImageSize) {
  rt::KTQImage banner(QImage(400, 60, QImage::Format_RGB888));
  const int64_t id = rt::ImageGadget(DynamicNumber, 0, 0, 10, 10, rt::HandleOfImage(&banner));
  auto* label = static_cast<QLabel*>(GadgetWidget(id));
  EXPECT_EQ(label->size(), QSize(400, 60));
  EXPECT_EQ(label->pixmap(Qt::ReturnByValue).size(), QSize(400, 60));
  EXPECT_EQ(rt::GadgetGetState(id), reinterpret_cast<intptr_t>(&banner));
  EXPECT_EQ(label->frameShape(), QFrame::NoFrame);

  QImage other(20, 30, QImage::Format_RGBA8888);
  rt::GadgetSetState(id, reinterpret_cast<intptr_t>(&other));
  EXPECT_EQ(label->size(), QSize(20, 30));
  EXPECT_EQ(rt::GadgetGetState(id), reinterpret_cast<intptr_t>(&other));
  rt::GadgetSetState(id, 0);
  EXPECT_TRUE(label->pixmap(Qt::ReturnByValue).isNull());
  EXPECT_EQ(rt::GadgetGetState(id), 0);
  EXPECT_EQ(label->size(), QSize(20, 30));
  rt::GadgetFree(id);

  const int64_t empty = rt::ImageGadget(DynamicNumber, 5, 5, 33, 44, 0);
  EXPECT_EQ(GadgetWidget(empty)->geometry(), QRect(5, 5, 33, 44));
  EXPECT_EQ(rt::GadgetGetState(empty), 0);
}

TEST_F(KindsTest, ImageGadgetFramesAndEvents) {
  QImage picture(40, 40, QImage::Format_RGB888);
  const int64_t sunken = rt::ImageGadget(DynamicNumber, 0, 0, 0, 0, rt::HandleOfImage(&picture), 0x03);
  EXPECT_EQ(static_cast<QLabel*>(GadgetWidget(sunken))->frameStyle(), QFrame::Panel | QFrame::Sunken);
  const int64_t raised =
      rt::ImageGadget(DynamicNumber, 0, 0, 0, 0, rt::HandleOfImage(&picture), rt::ImageGadgetFlags::Raised);
  EXPECT_EQ(static_cast<QLabel*>(GadgetWidget(raised))->frameStyle(), QFrame::Panel | QFrame::Raised);

  QWidget* label = GadgetWidget(raised);
  QTest::mouseClick(label, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
  QTest::mouseClick(label, Qt::RightButton, Qt::NoModifier, QPoint(5, 5));
  QTest::mousePress(label, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
  const QPoint away(5 + QApplication::startDragDistance(), 5);
  QMouseEvent move(QEvent::MouseMove, away, label->mapToGlobal(away), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(label, &move);
  QTest::mouseRelease(label, Qt::LeftButton, Qt::NoModifier, away);
  std::vector<int64_t> types;
  for (const Event& e : GadgetEvents()) {
    EXPECT_EQ(e.object, raised);
    types.push_back(e.type);
  }
  EXPECT_EQ(types, (std::vector<int64_t>{Type::LeftClick, Type::RightClick, Type::DragBegin, Type::LeftClick}));
}

}  // namespace
}  // namespace gt
