// The gadget framework: numbers and handles, the current gadget list, the
// generic operations on bad numbers, colour style sheets and the event filter.
#include <QApplication>
#include <QLineEdit>
#include <QMainWindow>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QVariant>
#include <cstring>

#include "core/object_table.h"
#include "core/workspace.h"
#include "gadget_test_support.h"
#include "qt/button_gadget.h"
#include "qt/event_kind.h"
#include "qt/gadget.h"
#include "qt/gadget_event_filter.h"
#include "qt/gadget_functions.h"
#include "qt/gadget_list.h"
#include "qt/progress_bar_gadget.h"
#include "qt/string_gadget.h"
#include "qt/wait_window_event.h"
#include "qt/windows.h"

namespace gt {
namespace {

using rt::DynamicNumber;
using rt::EventKind::Gadget;
namespace Type = rt::GadgetEventType;

class FrameworkTest : public GadgetTest {};

TEST_F(FrameworkTest, DynamicGadgetIsKnownByItsHandleEverywhere) {
  const int64_t id = rt::ButtonGadget(DynamicNumber, 10, 10, 80, 25, u"Go");
  ASSERT_NE(id, 0);
  QWidget* button = GadgetWidget(id);
  ASSERT_NE(button, nullptr);
  EXPECT_EQ(id, reinterpret_cast<intptr_t>(rt::GadgetLookup(id)));  // the record's address
  EXPECT_EQ(button->property("KT_GadgetID").toLongLong(), id);
  EXPECT_EQ(button->parentWidget(), static_cast<QMainWindow*>(windowWidget_)->centralWidget());
  EXPECT_EQ(button->geometry(), QRect(10, 10, 80, 25));
  EXPECT_TRUE(button->isVisible());
  EXPECT_EQ(rt::GadgetLookup(id)->kind, rt::GadgetKind::Button);

  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_EQ(GadgetEvents(), (std::vector<Event>{{Gadget, id, window_, Type::LeftClick}}));
}

TEST_F(FrameworkTest, FixedNumberReturnsTheWidgetAndIsReusable) {
  const intptr_t first = rt::ButtonGadget(7, 0, 0, 50, 20, u"one");
  ASSERT_NE(first, 0);
  QPointer<QWidget> old = reinterpret_cast<QWidget*>(first);
  EXPECT_EQ(GadgetWidget(7), old.data());
  EXPECT_EQ(old->property("KT_GadgetID").toLongLong(), 7);

  // Creating number 7 again frees the old gadget first.
  const intptr_t second = rt::ButtonGadget(7, 0, 0, 50, 20, u"two");
  ASSERT_NE(second, 0);
  EXPECT_TRUE(old.isNull());
  EXPECT_EQ(GadgetText(7), u"two");
  QTest::mouseClick(GadgetWidget(7), Qt::LeftButton);
  EXPECT_EQ(GadgetEvents(), (std::vector<Event>{{Gadget, 7, window_, Type::LeftClick}}));

  rt::GadgetFree(7);
  EXPECT_EQ(rt::GadgetLookup(7), nullptr);
  EXPECT_EQ(GadgetText(7), u"");
}

TEST_F(FrameworkTest, NumbersNamingNoGadgetDoNothing) {
  const int64_t bar = rt::ProgressBarGadget(DynamicNumber, 0, 0, 100, 20, 0, 100);
  const int64_t freed = rt::ButtonGadget(DynamicNumber, 0, 0, 10, 10, u"x");
  rt::GadgetFree(freed);
  for (const int64_t bad : {int64_t{3}, int64_t{12345}, int64_t{-1}, int64_t{-77}, int64_t{0x7fffdeadbeef}, freed}) {
    SCOPED_TRACE(bad);
    // The empty text lands at the offset, over whatever was there.
    const int64_t saved = rt::WorkspacePosition();
    rt::WorkspaceAppend(u"stale");
    rt::GadgetGetText(bad, saved);
    EXPECT_EQ(std::u16string(rt::WorkspaceString(saved)), u"");
    EXPECT_EQ(rt::WorkspacePosition(), saved);
    rt::WorkspaceRestore(saved);

    EXPECT_EQ(rt::GadgetAddItem(bad, -1, u"item"), 0);
    EXPECT_EQ(rt::GadgetGetState(bad), 0);
    rt::GadgetSetState(bad, 5);
    rt::GadgetSetText(bad, u"text");
    rt::GadgetDisable(bad, 1);
    if (bad != DynamicNumber) rt::GadgetFree(bad);
  }
  EXPECT_EQ(rt::GadgetGetState(bar), 0);
  EXPECT_TRUE(GadgetWidget(bar)->isEnabled());
  EXPECT_TRUE(GadgetEvents().empty());
}

TEST_F(FrameworkTest, NumberTheTableCannotHoldCreatesNothing) {
  const int before = QApplication::allWidgets().size();
  EXPECT_EQ(rt::ButtonGadget(-5, 0, 0, 10, 10, u"x"), 0);
  EXPECT_EQ(rt::StringGadget(int64_t{1} << 61, 0, 0, 10, 10, u"x"), 0);
  EXPECT_EQ(QApplication::allWidgets().size(), before);
}

TEST_F(FrameworkTest, GenericOperationsReachTheKind) {
  const int64_t text = rt::StringGadget(DynamicNumber, 0, 0, 100, 20, u"abc");
  rt::GadgetSetText(text, u"changed");
  EXPECT_EQ(GadgetText(text), u"changed");
  rt::GadgetSetText(text, nullptr);
  EXPECT_EQ(GadgetText(text), u"");
  rt::GadgetDisable(text, 1);
  EXPECT_FALSE(GadgetWidget(text)->isEnabled());
  rt::GadgetDisable(text, -3);  // any nonzero state disables
  EXPECT_FALSE(GadgetWidget(text)->isEnabled());
  rt::GadgetDisable(text, 0);
  EXPECT_TRUE(GadgetWidget(text)->isEnabled());
  // Base behaviour where the kind overrides nothing.
  EXPECT_EQ(rt::GadgetAddItem(text, -1, u"item"), 0);
  const int64_t button = rt::ButtonGadget(DynamicNumber, 0, 0, 10, 10, u"b");
  rt::GadgetSetState(button, 1);  // not checkable: stays unchecked
  EXPECT_EQ(rt::GadgetGetState(button), 0);
  const int64_t bar = rt::ProgressBarGadget(DynamicNumber, 0, 0, 100, 20, 0, 10);
  rt::GadgetSetText(bar, u"ignored");
  EXPECT_EQ(GadgetText(bar), u"");
}

TEST_F(FrameworkTest, FreeingAllGadgetsDeletesEveryWidget) {
  QPointer<QWidget> a = reinterpret_cast<QWidget*>(rt::ButtonGadget(3, 0, 0, 10, 10, u"a"));
  const int64_t b = rt::ButtonGadget(DynamicNumber, 0, 0, 10, 10, u"b");
  const int64_t c = rt::StringGadget(DynamicNumber, 0, 0, 10, 10, u"c");
  QPointer<QWidget> wb = GadgetWidget(b);
  QPointer<QWidget> wc = GadgetWidget(c);
  rt::GadgetFree(DynamicNumber);
  EXPECT_TRUE(a.isNull());
  EXPECT_TRUE(wb.isNull());
  EXPECT_TRUE(wc.isNull());
  EXPECT_EQ(rt::GadgetLookup(3), nullptr);
  EXPECT_EQ(rt::GadgetLookup(b), nullptr);
}

TEST_F(FrameworkTest, ClosingTheWindowReleasesItsGadgets) {
  const int64_t b = rt::ButtonGadget(DynamicNumber, 0, 0, 10, 10, u"b");
  rt::ButtonGadget(4, 0, 0, 10, 10, u"four");
  rt::WindowFree(window_);
  EXPECT_EQ(rt::GadgetLookup(b), nullptr);
  EXPECT_EQ(rt::GadgetLookup(4), nullptr);
  EXPECT_EQ(rt::ObjectTableCheck(rt::GadgetTable(), b), 0);
}

TEST_F(FrameworkTest, GadgetWithoutCurrentListIsTopLevelOutsideAnyWindow) {
  rt::WindowFree(window_);  // the current list is gone with it
  EXPECT_EQ(rt::GadgetListSelect(nullptr), nullptr);
  const int64_t id = rt::ButtonGadget(DynamicNumber, 0, 0, 60, 20, u"alone");
  ASSERT_NE(id, 0);
  QWidget* button = GadgetWidget(id);
  EXPECT_EQ(button->parentWidget(), nullptr);
  EXPECT_TRUE(button->isWindow());
  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_EQ(GadgetEvents(), (std::vector<Event>{{Gadget, id, -1, Type::LeftClick}}));
  rt::GadgetFree(id);
}

TEST_F(FrameworkTest, GadgetListSelectSwitchesAndRestoresLists) {
  QMainWindow* first = static_cast<QMainWindow*>(windowWidget_);
  const int64_t a = rt::ButtonGadget(DynamicNumber, 0, 0, 10, 10, u"a");
  EXPECT_EQ(GadgetWidget(a)->parentWidget(), first->centralWidget());

  // Opening a second window makes it the current list.
  const int64_t other = static_cast<int64_t>(rt::WindowOpen(DynamicNumber, 50, 50, 200, 100, u"second", 0x0004));
  auto* second = static_cast<QMainWindow*>(rt::WindowWidget(other));
  EXPECT_EQ(rt::GadgetListSelect(nullptr), second);
  EXPECT_TRUE(first->property("KT_GadgetStack").isValid());  // saved when it stopped being current
  const int64_t b = rt::ButtonGadget(DynamicNumber, 0, 0, 10, 10, u"b");
  EXPECT_EQ(GadgetWidget(b)->parentWidget(), second->centralWidget());
  QTest::mouseClick(GadgetWidget(b), Qt::LeftButton);
  EXPECT_EQ(GadgetEvents(), (std::vector<Event>{{Gadget, b, other, Type::LeftClick}}));

  // Back to the first window: its saved container comes back, the property goes.
  EXPECT_EQ(rt::GadgetListSelect(first), second);
  EXPECT_FALSE(first->property("KT_GadgetStack").isValid());
  EXPECT_TRUE(second->property("KT_GadgetStack").isValid());
  const int64_t c = rt::ButtonGadget(DynamicNumber, 0, 0, 10, 10, u"c");
  EXPECT_EQ(GadgetWidget(c)->parentWidget(), first->centralWidget());

  // Once the current list's window is gone there is no previous list.
  EXPECT_EQ(rt::GadgetListSelect(second), first);
  rt::WindowFree(other);
  EXPECT_EQ(rt::GadgetListSelect(first), nullptr);
}

TEST_F(FrameworkTest, SavedContainerThatDiedReadsAsNone) {
  // Any main window may be a gadget list, not only a runtime one.
  QMainWindow plain;
  plain.setCentralWidget(new QWidget);
  EXPECT_EQ(rt::GadgetListSelect(&plain), windowWidget_);
  const int64_t a = rt::ButtonGadget(DynamicNumber, 0, 0, 10, 10, u"a");
  EXPECT_EQ(GadgetWidget(a)->parentWidget(), plain.centralWidget());
  EXPECT_EQ(rt::GadgetListSelect(windowWidget_), &plain);
  delete plain.takeCentralWidget();  // the saved container (and gadget a)
  EXPECT_EQ(rt::GadgetLookup(a), nullptr);
  EXPECT_EQ(rt::GadgetListSelect(&plain), windowWidget_);
  const int64_t b = rt::ButtonGadget(DynamicNumber, 0, 0, 10, 10, u"b");
  EXPECT_EQ(GadgetWidget(b)->parentWidget(), nullptr);
  rt::GadgetFree(b);
  // A widget that is no main window is its own container.
  QWidget bare;
  rt::GadgetListSelect(&bare);
  const int64_t c = rt::ButtonGadget(DynamicNumber, 0, 0, 10, 10, u"c");
  EXPECT_EQ(GadgetWidget(c)->parentWidget(), &bare);
  rt::GadgetListSelect(windowWidget_);
}

TEST_F(FrameworkTest, OtherThreadsHaveTheirOwnList) {
  rt::GuiThreadState* mine = rt::CurrentGuiThreadState();
  ASSERT_NE(mine, nullptr);
  EXPECT_EQ(mine->owner.data(), windowWidget_);
  rt::GuiThreadState* theirs = nullptr;
  std::thread([&theirs] { theirs = rt::CurrentGuiThreadState(); }).join();
  EXPECT_NE(theirs, mine);
}

TEST_F(FrameworkTest, StringGadgetColoursBecomeItsStyleSheet) {
  const int64_t id = rt::StringGadget(DynamicNumber, 10, 10, 120, 30, u"");
  auto* edit = static_cast<QLineEdit*>(GadgetWidget(id));
  rt::KTGadgetFunctions* functions = rt::GadgetLookup(id)->functions;
  EXPECT_EQ(functions->GetColor(1), -1);
  EXPECT_EQ(functions->GetColor(2), -1);
  EXPECT_EQ(functions->GetColor(9), -1);

  const QString selector = QStringLiteral("*[KT_GadgetID=\"%1\"]").arg(id);
  functions->SetColor(1, rt::RgbColor(255, 0, 0));
  EXPECT_EQ(edit->styleSheet(), selector + " {\n  color: rgb(255, 0, 0);\n}\n");
  functions->SetColor(2, rt::RgbColor(0, 200, 0));
  EXPECT_EQ(edit->styleSheet(), selector + " {\n  background-color: rgb(0, 200, 0);\n  color: rgb(255, 0, 0);\n}\n");
  EXPECT_EQ(functions->GetColor(2), rt::RgbColor(0, 200, 0));

  // The selector names this very widget, so the background shows.
  Settle();
  const QImage picture = edit->grab().toImage();
  EXPECT_EQ(QColor(picture.pixel(picture.width() / 2, picture.height() / 2)), QColor(0, 200, 0));

  functions->SetColor(1, -1);
  EXPECT_EQ(functions->GetColor(1), -1);
  EXPECT_EQ(edit->styleSheet(), selector + " {\n  background-color: rgb(0, 200, 0);\n}\n");
  functions->SetColor(2, -1);
  EXPECT_EQ(edit->styleSheet(), selector + " {\n}\n");
}

TEST_F(FrameworkTest, KindsWithoutColoursKeepTheirOwnStyleSheet) {
  const int64_t id = rt::ButtonGadget(DynamicNumber, 0, 0, 80, 20, u"right", rt::ButtonFlags::AlignRight);
  rt::KTGadgetFunctions* functions = rt::GadgetLookup(id)->functions;
  functions->SetColor(1, 0x123456);
  EXPECT_EQ(functions->GetColor(1), 0x123456);
  EXPECT_EQ(GadgetWidget(id)->styleSheet(), "text-align: right");
}

TEST_F(FrameworkTest, RequiredSizeIsTheSizeHint) {
  const int64_t id = rt::ButtonGadget(DynamicNumber, 0, 0, 10, 10, u"A rather long caption");
  int32_t width = -1, height = -1;
  rt::GadgetLookup(id)->functions->RequiredSize(&width, &height);
  EXPECT_EQ(QSize(width, height), GadgetWidget(id)->sizeHint());
  EXPECT_GT(width, 10);
}

// The event filter, on a plain widget so every type can be switched on or off.
class FilterTest : public GadgetTest {
 protected:
  void SetUp() override {
    GadgetTest::SetUp();
    target_ = new QWidget(static_cast<QMainWindow*>(windowWidget_)->centralWidget());
    target_->setGeometry(0, 0, 200, 200);
    target_->show();
    filter_ = new rt::KTEventFilter(target_, 99);
    Settle();
    TakeAll();
  }
  void TearDown() override {
    delete target_;
    GadgetTest::TearDown();
  }
  void Mouse(QEvent::Type type, Qt::MouseButton button, QPointF at, Qt::MouseButtons held,
             Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QMouseEvent event(type, at, target_->mapToGlobal(at.toPoint()), button, held, modifiers);
    QApplication::sendEvent(target_, &event);
  }
  void Press(QPointF at, Qt::MouseButton button = Qt::LeftButton) { Mouse(QEvent::MouseButtonPress, button, at, button); }
  void Release(QPointF at, Qt::MouseButton button = Qt::LeftButton) { Mouse(QEvent::MouseButtonRelease, button, at, Qt::NoButton); }
  void DoubleClick(QPointF at, Qt::MouseButton button = Qt::LeftButton) {
    Mouse(QEvent::MouseButtonDblClick, button, at, button);
  }
  void Move(QPointF at, Qt::MouseButtons held = Qt::LeftButton) { Mouse(QEvent::MouseMove, Qt::NoButton, at, held); }
  std::vector<int64_t> Types() {
    std::vector<int64_t> types;
    for (const Event& e : GadgetEvents()) {
      EXPECT_EQ(e.kind, Gadget);
      EXPECT_EQ(e.object, 99);
      EXPECT_EQ(e.window, window_);
      types.push_back(e.type);
    }
    return types;
  }

  QWidget* target_ = nullptr;
  rt::KTEventFilter* filter_ = nullptr;
};

TEST_F(FilterTest, OnlyEnabledTypesArePosted) {
  Press({5, 5});
  Release({5, 5});
  Press({5, 5}, Qt::RightButton);
  Release({5, 5}, Qt::RightButton);
  target_->resize(100, 100);
  QKeyEvent ret(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(target_, &ret);
  EXPECT_TRUE(Types().empty());
}

TEST_F(FilterTest, ClicksAndDoubleClicks) {
  for (int32_t type : {Type::LeftClick, Type::LeftDoubleClick, Type::RightClick, Type::RightDoubleClick}) filter_->Enable(type);
  // Qt's order for a double click: press, release, double click, release.
  Press({5, 5});
  Release({5, 5});
  DoubleClick({5, 5});
  Release({5, 5});
  EXPECT_EQ(Types(), (std::vector<int64_t>{Type::LeftClick, Type::LeftDoubleClick}));
  // The pending flag lasts until the next press.
  Release({5, 5});
  EXPECT_EQ(Types(), (std::vector<int64_t>{Type::LeftDoubleClick}));
  Press({5, 5});
  Release({5, 5});
  EXPECT_EQ(Types(), (std::vector<int64_t>{Type::LeftClick}));

  Press({5, 5}, Qt::RightButton);
  Release({5, 5}, Qt::RightButton);
  DoubleClick({5, 5}, Qt::RightButton);
  Release({5, 5}, Qt::RightButton);
  EXPECT_EQ(Types(), (std::vector<int64_t>{Type::RightClick, Type::RightDoubleClick}));
}

TEST_F(FilterTest, DoubleClickWithoutItsTypeIsAClick) {
  filter_->Enable(Type::LeftClick);
  Press({5, 5});
  Release({5, 5});
  EXPECT_EQ(Types(), (std::vector<int64_t>{Type::LeftClick}));
  DoubleClick({5, 5});
  Release({5, 5});
  EXPECT_EQ(Types(), (std::vector<int64_t>{Type::LeftClick}));
  // Enabling the type later does not make that double click count.
  filter_->Enable(Type::LeftDoubleClick);
  Release({5, 5});
  EXPECT_EQ(Types(), (std::vector<int64_t>{Type::LeftClick}));
}

TEST_F(FilterTest, DragBeginsAtTheStartDragDistanceOnce) {
  filter_->Enable(Type::DragBegin);
  const int distance = QApplication::startDragDistance();
  ASSERT_GT(distance, 1);
  // (10.5, 20.5) rounds to (11, 21): halves go up.
  Press({10.5, 20.5});
  Move({11.0 + (distance - 1), 21.0});        // one short
  Move({11.0, 21.0 + (distance - 1)});        // one short the other way
  Move({11.0 + distance / 2, 21.4 - (distance - distance / 2)});  // rounds to exactly the distance
  Move({11.0 + 3 * distance, 21.0});         // already begun
  EXPECT_EQ(Types(), (std::vector<int64_t>{Type::DragBegin}));
  Release({40, 21});
  Move({200, 200});  // button not pressed any more
  EXPECT_TRUE(Types().empty());

  // Without the left button held nothing begins; a new press re-arms.
  Press({10, 10});
  Move({10.0 + distance, 10}, Qt::RightButton);
  EXPECT_TRUE(Types().empty());
  Move({10.0 + distance, 10});
  EXPECT_EQ(Types(), (std::vector<int64_t>{Type::DragBegin}));
  // A double click disarms it.
  Press({10, 10});
  DoubleClick({10, 10});
  Move({10.0 + distance, 10});
  EXPECT_TRUE(Types().empty());
}

TEST_F(FilterTest, ReturnWithoutModifiersOnly) {
  filter_->Enable(Type::ReturnPressed);
  auto key = [this](int code, Qt::KeyboardModifiers modifiers) {
    QKeyEvent press(QEvent::KeyPress, code, modifiers);
    QApplication::sendEvent(target_, &press);
  };
  key(Qt::Key_Return, Qt::ShiftModifier);
  key(Qt::Key_Return, Qt::ControlModifier);
  key(Qt::Key_Enter, Qt::KeypadModifier);
  key(Qt::Key_Enter, Qt::NoModifier);
  key(Qt::Key_Space, Qt::NoModifier);
  EXPECT_TRUE(Types().empty());
  key(Qt::Key_Return, Qt::NoModifier);
  EXPECT_EQ(Types(), (std::vector<int64_t>{Type::ReturnPressed}));
}

TEST_F(FilterTest, FocusAndResize) {
  filter_->Enable(Type::FocusIn);
  filter_->Enable(Type::FocusOut);
  filter_->Enable(Type::Resized);
  target_->resize(120, 80);
  EXPECT_EQ(Types(), (std::vector<int64_t>{Type::Resized}));
  QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
  QApplication::sendEvent(target_, &in);
  QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
  QApplication::sendEvent(target_, &out);
  EXPECT_EQ(Types(), (std::vector<int64_t>{Type::FocusIn, Type::FocusOut}));
}

TEST_F(FilterTest, WindowIsLookedUpWhenPosting) {
  filter_->Enable(Type::LeftClick);
  target_->setParent(nullptr);  // no longer inside a runtime window
  Press({1, 1});
  Release({1, 1});
  EXPECT_EQ(GadgetEvents(), (std::vector<Event>{{Gadget, 99, -1, Type::LeftClick}}));
}

}  // namespace
}  // namespace gt
