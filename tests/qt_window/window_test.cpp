// Opening, placing, colouring and freeing runtime windows.
#include <gtest/gtest.h>

#include <QApplication>
#include <QColor>
#include <QGuiApplication>
#include <QImage>
#include <QPointer>
#include <QScreen>
#include <QTest>
#include <vector>

#include "qt/ktqmainwindow.h"
#include "qt/wait_window_event.h"
#include "qt/windows.h"
#include "qt_test_support.h"

namespace {

using qtw::TakeAll;
namespace EventKind = rt::EventKind;
namespace Flags = rt::WindowFlags;

KTQMainWindow* AsWindow(intptr_t handleOrWindow, rt::ObjectNumber number) {
  if (!handleOrWindow) return nullptr;
  return qobject_cast<KTQMainWindow*>(rt::WindowWidget(number == rt::DynamicNumber ? handleOrWindow : number));
}

class WindowTest : public ::testing::Test {
 protected:
  // Opens a window and returns it; `number` receives the number to address it by.
  KTQMainWindow* Open(rt::ObjectNumber number, int32_t flags, int32_t x = 0, int32_t y = 0, int32_t width = 400,
                      int32_t height = 200, rt::RtString title = u"window", QWidget* parent = nullptr,
                      int64_t* id = nullptr) {
    const intptr_t result = rt::WindowOpen(number, x, y, width, height, title, flags, parent);
    if (id) *id = number == rt::DynamicNumber ? result : number;
    return AsWindow(result, number);
  }
  void TearDown() override {
    rt::WindowFree(rt::DynamicNumber);
    qtw::Settle();
    TakeAll();
  }
};

TEST_F(WindowTest, StaticNumberReturnsTheWindowAndDynamicNumberItsHandle) {
  const intptr_t fixed = rt::WindowOpen(4, 0, 0, 300, 100, u"four", Flags::Invisible);
  ASSERT_NE(fixed, 0);
  EXPECT_EQ(reinterpret_cast<QWidget*>(fixed), rt::WindowWidget(4));
  EXPECT_EQ(qobject_cast<KTQMainWindow*>(rt::WindowWidget(4))->WindowNumber(), 4);

  const intptr_t handle = rt::WindowOpen(rt::DynamicNumber, 0, 0, 300, 100, u"dynamic", Flags::Invisible);
  ASSERT_NE(handle, 0);
  auto* window = qobject_cast<KTQMainWindow*>(rt::WindowWidget(handle));
  ASSERT_NE(window, nullptr);
  EXPECT_NE(reinterpret_cast<QWidget*>(handle), static_cast<QWidget*>(window));
  EXPECT_EQ(window->WindowNumber(), handle);
  ASSERT_NE(window->ContentWidget(), nullptr);
  EXPECT_EQ(window->centralWidget(), window->ContentWidget());
  EXPECT_EQ(window->ContentWidget()->WindowNumber(), handle);
}

TEST_F(WindowTest, TheShortestFormOpensAVisibleWindowWithACloseButton) {
  auto* window = reinterpret_cast<KTQMainWindow*>(rt::WindowOpen(1, 10, 20, 320, 240, u"plain"));
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->size(), QSize(320, 240));
  const Qt::WindowFlags flags = window->windowFlags();
  EXPECT_EQ(window->windowType(), Qt::Window);
  EXPECT_TRUE(flags & Qt::CustomizeWindowHint);
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(flags & (Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint | Qt::FramelessWindowHint));
  EXPECT_TRUE(Open(2, Flags::BorderLess | Flags::Invisible)->windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(Open(3, Flags::Tool | Flags::Invisible)->windowType(), Qt::Tool);
}

TEST_F(WindowTest, OnlyResizableWindowsCanChangeSize) {
  KTQMainWindow* fixed = Open(0, Flags::SystemMenu, 0, 0, 300, 120);
  EXPECT_EQ(fixed->minimumSize(), QSize(300, 120));
  EXPECT_EQ(fixed->maximumSize(), QSize(300, 120));
  for (int32_t flag : {Flags::Resizable, Flags::MaximizeGadget}) {
    KTQMainWindow* sizable = Open(1, flag, 0, 0, 300, 120);
    EXPECT_EQ(sizable->size(), QSize(300, 120));
    EXPECT_EQ(sizable->maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX)) << flag;
  }
}

TEST_F(WindowTest, ExplicitCoordinatesPlaceTheWindowAndUnsetOnesLeaveItToTheSystem) {
  KTQMainWindow* placed = Open(0, Flags::SystemMenu, 120, 80, 200, 100);
  EXPECT_TRUE(placed->testAttribute(Qt::WA_Moved));
  EXPECT_EQ(placed->pos(), QPoint(120, 80));

  KTQMainWindow* free = Open(1, Flags::SystemMenu, rt::UnsetCoordinate, rt::UnsetCoordinate, 200, 100);
  EXPECT_FALSE(free->testAttribute(Qt::WA_Moved));
  // One unset coordinate is enough to leave the placement alone.
  KTQMainWindow* half = Open(2, Flags::SystemMenu, 120, rt::UnsetCoordinate, 200, 100);
  EXPECT_FALSE(half->testAttribute(Qt::WA_Moved));
  // -65536 is an ordinary coordinate.
  KTQMainWindow* far = Open(3, Flags::SystemMenu | Flags::Invisible, -65536, 5, 200, 100);
  EXPECT_EQ(far->pos(), QPoint(-65536, 5));
}

TEST_F(WindowTest, ScreenCentringWinsOverParentCentringAndIgnoresTheCoordinates) {
  QWidget parent;
  parent.setGeometry(10, 10, 100, 100);
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  KTQMainWindow* window =
      Open(0, Flags::ScreenCentered | Flags::WindowCentered | Flags::SystemMenu, 7, 9, 301, 101, u"c", &parent);
  ASSERT_NE(window, nullptr);
  // The frame is placed; before the window was shown it was as large as the window.
  const QPoint placed = window->frameGeometry().topLeft();
  EXPECT_EQ(placed, QPoint(screen.x() + (screen.width() - 301) / 2, screen.y() + (screen.height() - 101) / 2));
  EXPECT_NE(placed, QPoint(7, 9));
  window->setParent(nullptr);  // the stack-owned parent must not delete it
}

TEST_F(WindowTest, ParentCentringUsesTheParentsFrame) {
  QWidget parent;
  parent.setGeometry(100, 60, 600, 400);
  KTQMainWindow* window = Open(0, Flags::WindowCentered | Flags::Invisible, 0, 0, 300, 101, u"c", &parent);
  ASSERT_NE(window, nullptr);
  const QRect reference = parent.frameGeometry();
  EXPECT_EQ(window->frameGeometry().topLeft(), QPoint(reference.x() + (reference.width() - 300) / 2,
                                                     reference.y() + (reference.height() - 101) / 2));
  window->setParent(nullptr);
}

TEST_F(WindowTest, ParentCentringWithoutParentUsesTheActiveWindow) {
  KTQMainWindow* first = Open(0, Flags::SystemMenu, 50, 40, 500, 300);
  first->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(first, 3000));
  ASSERT_EQ(QApplication::activeWindow(), first);
  KTQMainWindow* second = Open(1, Flags::WindowCentered | Flags::Invisible, 0, 0, 201, 100);
  const QRect reference = first->frameGeometry();
  EXPECT_EQ(second->frameGeometry().topLeft(), QPoint(reference.x() + (reference.width() - 201) / 2,
                                                     reference.y() + (reference.height() - 100) / 2));
}

TEST_F(WindowTest, StartStateVisibilityAndTitle) {
  KTQMainWindow* hidden = Open(0, Flags::Invisible, 0, 0, 200, 100, u"Flasher \u00e9\u20ac");
  EXPECT_FALSE(hidden->isVisible());
  EXPECT_EQ(hidden->windowTitle(), QString::fromUtf16(u"Flasher \u00e9\u20ac"));
  EXPECT_EQ(hidden->windowTitle().size(), 10);
  KTQMainWindow* untitled = Open(1, Flags::Invisible, 0, 0, 200, 100, nullptr);
  EXPECT_TRUE(untitled->windowTitle().isEmpty());

  EXPECT_TRUE(Open(2, Flags::Maximize | Flags::Resizable)->isMaximized());
  EXPECT_TRUE(Open(3, Flags::Minimize)->isMinimized());
  KTQMainWindow* both = Open(4, Flags::Maximize | Flags::Minimize | Flags::Resizable);
  EXPECT_TRUE(both->isMaximized());
  EXPECT_FALSE(both->isMinimized());
}

std::vector<QWidget*> hookCalls;
void RecordHook(QWidget* window) { hookCalls.push_back(window); }

TEST_F(WindowTest, NewWindowsBecomeTheGadgetListUnlessAskedNotTo) {
  hookCalls.clear();
  rt::WindowSetGadgetListHook(RecordHook);
  KTQMainWindow* listed = Open(0, Flags::Invisible);
  KTQMainWindow* unlisted = Open(1, Flags::Invisible | Flags::NoGadgets);
  rt::WindowSetGadgetListHook(nullptr);
  Open(2, Flags::Invisible);
  ASSERT_EQ(hookCalls.size(), 1u);
  EXPECT_EQ(hookCalls[0], listed);
  EXPECT_NE(unlisted, nullptr);
}

TEST_F(WindowTest, RgbColorPacksUnmaskedComponents) {
  EXPECT_EQ(rt::RgbColor(42, 42, 42), 0x2A2A2A);
  EXPECT_EQ(rt::RgbColor(1, 2, 3), 0x030201);
  EXPECT_EQ(rt::RgbColor(0x1FF, 0, 0), 0x1FF);
  EXPECT_EQ(rt::RgbColor(0, 0, 0x100), 0x1000000);
  EXPECT_EQ(rt::RgbColor(-1, 0, 0), -1);
  EXPECT_EQ(rt::RgbColor(0, -1, 0), -256);
}

TEST_F(WindowTest, SetColorWritesTheStyleSheetAndPaintsTheBackground) {
  int64_t id = 0;
  KTQMainWindow* window = Open(rt::DynamicNumber, Flags::SystemMenu, 0, 0, 200, 100, u"c", nullptr, &id);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(rt::WindowColor(id), -1);

  rt::WindowSetColor(id, rt::RgbColor(42, 42, 42));
  EXPECT_EQ(window->ContentWidget()->styleSheet(),
            QStringLiteral("KTQMainWindow > QWidget { background-color: rgb(42, 42, 42) }"));
  EXPECT_EQ(rt::WindowColor(id), 0x2A2A2A);
  const QImage image = window->ContentWidget()->grab().toImage();
  EXPECT_EQ(image.pixelColor(image.width() / 2, image.height() / 2), QColor(42, 42, 42));

  rt::WindowSetColor(id, rt::RgbColor(10, 20, 30));
  EXPECT_EQ(window->ContentWidget()->styleSheet(),
            QStringLiteral("KTQMainWindow > QWidget { background-color: rgb(10, 20, 30) }"));
  rt::WindowSetColor(id, -1);
  EXPECT_TRUE(window->ContentWidget()->styleSheet().isEmpty());
  EXPECT_EQ(rt::WindowColor(id), -1);
}

TEST_F(WindowTest, NumbersThatNameNoWindowAreIgnored) {
  Open(0, Flags::Invisible);
  rt::WindowSetColor(5, 0x2A2A2A);            // in range, never opened
  rt::WindowSetColor(100000, 0x2A2A2A);       // beyond the slots
  rt::WindowSetColor(0x7fff12345670, 0x2A2A2A);  // looks like a handle, is none
  rt::WindowSetColor(-7, 0x2A2A2A);
  EXPECT_EQ(rt::WindowWidget(5), nullptr);
  EXPECT_EQ(rt::WindowWidget(0x7fff12345670), nullptr);
  EXPECT_EQ(rt::WindowColor(100000), -1);
  rt::WindowFree(5);
  rt::WindowFree(0x7fff12345670);
  EXPECT_NE(rt::WindowWidget(0), nullptr);
}

TEST_F(WindowTest, WindowNumberOfWidgetFindsTheRuntimeWindowAbove) {
  int64_t id = 0;
  KTQMainWindow* window = Open(rt::DynamicNumber, Flags::Invisible, 0, 0, 200, 100, u"n", nullptr, &id);
  auto* inner = new QWidget(new QWidget(window->ContentWidget()));
  EXPECT_EQ(rt::WindowNumberOfWidget(inner), id);
  EXPECT_EQ(rt::WindowNumberOfWidget(window), id);
  QWidget loose;
  EXPECT_EQ(rt::WindowNumberOfWidget(&loose), -1);
  EXPECT_EQ(rt::WindowNumberOfWidget(nullptr), -1);
}

// A child that posts an event of its window while it is being destroyed,
// as a gadget losing the focus does.
class PostingChild : public QWidget {
 public:
  PostingChild(QWidget* parent, int64_t window) : QWidget(parent), window_(window) {}
  ~PostingChild() override { rt::EventPost(EventKind::Gadget, 99, window_, rt::GadgetEventType::FocusOut); }

 private:
  int64_t window_;
};

TEST_F(WindowTest, FreeingAWindowPurgesEveryEventOfIt) {
  int64_t doomed = 0, kept = 0;
  KTQMainWindow* window = Open(rt::DynamicNumber, Flags::SystemMenu, 0, 0, 200, 100, u"d", nullptr, &doomed);
  Open(rt::DynamicNumber, Flags::SystemMenu, 0, 0, 200, 100, u"k", nullptr, &kept);
  new PostingChild(window->ContentWidget(), doomed);
  qtw::Settle();
  rt::EventPost(EventKind::Gadget, 1, doomed, 0);
  rt::EventPost(EventKind::Gadget, 1, kept, 0);
  rt::EventPost(EventKind::Moved, 0, doomed, 0);

  QPointer<KTQMainWindow> watch(window);
  rt::WindowFree(doomed);
  EXPECT_TRUE(watch.isNull());
  EXPECT_EQ(rt::WindowWidget(doomed), nullptr);
  qtw::Settle();
  bool keptSeen = false;
  for (const qtw::Event& event : TakeAll()) {
    EXPECT_NE(event.window, doomed) << "kind " << event.kind;
    keptSeen |= event.window == kept && event.kind == EventKind::Gadget;
  }
  EXPECT_TRUE(keptSeen);
}

TEST_F(WindowTest, ReopeningANumberFreesTheOldWindowAndItsEvents) {
  QPointer<KTQMainWindow> first(Open(3, Flags::SystemMenu));
  rt::EventPost(EventKind::Gadget, 8, 3, 0);
  KTQMainWindow* second = Open(3, Flags::SystemMenu | Flags::Invisible);
  EXPECT_TRUE(first.isNull());
  EXPECT_EQ(rt::WindowWidget(3), second);
  for (const qtw::Event& event : TakeAll()) EXPECT_NE(event.kind, EventKind::Gadget);
}

TEST_F(WindowTest, DeletingTheWidgetDirectlyReleasesItsNumber) {
  int64_t id = 0;
  KTQMainWindow* window = Open(rt::DynamicNumber, Flags::Invisible, 0, 0, 200, 100, u"x", nullptr, &id);
  Open(6, Flags::Invisible);
  delete window;
  EXPECT_EQ(rt::WindowWidget(id), nullptr);
  delete rt::WindowWidget(6);
  EXPECT_EQ(rt::WindowWidget(6), nullptr);
  EXPECT_NE(Open(6, Flags::Invisible), nullptr);
}

TEST_F(WindowTest, FreeingAllAndTheLibraryEndCloseEveryWindow) {
  std::vector<QPointer<KTQMainWindow>> windows;
  windows.emplace_back(Open(0, Flags::Invisible));
  windows.emplace_back(Open(9, Flags::SystemMenu));
  windows.emplace_back(Open(rt::DynamicNumber, Flags::SystemMenu));
  windows.emplace_back(Open(rt::DynamicNumber, Flags::Invisible));
  rt::WindowFree(rt::DynamicNumber);
  for (const auto& window : windows) EXPECT_TRUE(window.isNull());

  QPointer<KTQMainWindow> last(Open(rt::DynamicNumber, Flags::Invisible));
  rt::WindowLibraryEnd();
  EXPECT_TRUE(last.isNull());
  EXPECT_NE(Open(0, Flags::Invisible), nullptr);  // the library stays usable
}

}  // namespace
