#include "gadget_test_support.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileDialog>
#include <QLineEdit>

#include "core/workspace.h"
#include "qt/event_kind.h"
#include "qt/gadget.h"
#include "qt/qt_base.h"
#include "qt/ui_thread.h"
#include "qt/wait_window_event.h"
#include "qt/windows.h"

namespace gt {
namespace {

// The user-interface libraries, started once per test program in the order
// of the program's start-up list.
class QtRuntime : public ::testing::Environment {
 public:
  void SetUp() override {
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    rt::WorkspaceEnsure();
    rt::ApplicationStart();
    rt::EventQueueStart();
    rt::WindowLibraryStart();
    rt::GadgetLibraryStart();
  }
  void TearDown() override {
    rt::GadgetLibraryEnd();
    rt::WindowLibraryEnd();
    rt::GadgetFree(rt::DynamicNumber);
  }
};

[[maybe_unused]] ::testing::Environment* const environment = ::testing::AddGlobalTestEnvironment(new QtRuntime);

}  // namespace

std::vector<Event> GadgetEvents() {
  std::vector<Event> events;
  for (const Event& e : TakeAll())
    if (e.kind == rt::EventKind::Gadget) events.push_back(e);
  return events;
}

void ChooseInFileDialog(QFileDialog* dialog, const QString& names) {
  auto* field = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  ASSERT_NE(field, nullptr);
  field->setText(names);
  static_cast<QDialog*>(dialog)->accept();  // QFileDialog hides it
}

std::u16string GadgetText(rt::ObjectNumber gadget) {
  rt::WorkspaceEnsure();
  const int64_t saved = rt::WorkspacePosition();
  rt::GadgetGetText(gadget, saved);
  std::u16string text(rt::WorkspaceString(saved));
  rt::WorkspaceRestore(saved);
  return text;
}

QWidget* GadgetWidget(rt::ObjectNumber gadget) {
  rt::GadgetRecord* record = rt::GadgetLookup(gadget);
  return record ? record->widget : nullptr;
}

void GadgetTest::SetUp() {
  window_ = static_cast<int64_t>(rt::WindowOpen(rt::DynamicNumber, 10, 10, 400, 300, u"gadgets", 0x0004));
  ASSERT_NE(window_, 0);
  windowWidget_ = rt::WindowWidget(window_);
  ASSERT_NE(windowWidget_, nullptr);
  Settle();
  TakeAll();
}

void GadgetTest::TearDown() {
  rt::WindowFree(window_);
  rt::GadgetFree(rt::DynamicNumber);  // gadgets made without a window
  Settle();
  TakeAll();
}

}  // namespace gt
