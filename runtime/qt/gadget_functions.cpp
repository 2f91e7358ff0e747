#include "qt/gadget_functions.h"

#include <QSize>
#include <QWidget>

#include "qt/gadget.h"
#include "qt/gadget_create.h"
#include "qt/wait_window_event.h"

namespace rt {

KTGadgetFunctions::KTGadgetFunctions(QWidget* widget, const GadgetIdentity& identity, int32_t flags)
    : QObject(widget),
      requested_(identity.requested),
      widget_(widget),
      gadgetId_(identity.id),
      window_(identity.window),
      flags_(flags),
      record_(identity.record),
      style_(widget) {}

KTGadgetFunctions::~KTGadgetFunctions() { GadgetReleaseNumber(gadgetId_, this); }

void KTGadgetFunctions::RequiredSize(int32_t* width, int32_t* height) {
  const QSize hint = widget_->sizeHint();
  const bool valid = hint.width() >= 0 && hint.height() >= 0;
  *width = valid ? hint.width() : 0;
  *height = valid ? hint.height() : 0;
}

int32_t KTGadgetFunctions::AddItem(int32_t, const QString&, QImage*, int32_t) { return 0; }
void KTGadgetFunctions::RemoveItem(int32_t) {}
void KTGadgetFunctions::ClearItems() {}
int32_t KTGadgetFunctions::CountItems() { return 0; }
int32_t KTGadgetFunctions::ReservedGetter6(int32_t) { return 0; }
void KTGadgetFunctions::ReservedSetter7() {}
QString KTGadgetFunctions::GetItemText(int32_t) { return QString(); }
void KTGadgetFunctions::SetItemText(int32_t, const QString&) {}
void KTGadgetFunctions::ReservedSetter10() {}
int32_t KTGadgetFunctions::ReservedGetter11() { return -1; }
void KTGadgetFunctions::SetItemData(int32_t, int64_t) {}
int64_t KTGadgetFunctions::GetItemData(int32_t) { return 0; }
int32_t KTGadgetFunctions::ReservedGetter14() { return 0; }
void KTGadgetFunctions::ReservedSetter15() {}
void KTGadgetFunctions::SetItemImage(int32_t, QImage*) {}
int64_t KTGadgetFunctions::GetState() { return 0; }
void KTGadgetFunctions::SetState(int64_t) {}
QString KTGadgetFunctions::GetText() { return QString(); }
void KTGadgetFunctions::SetText(const QString&) {}
int32_t KTGadgetFunctions::GetAttribute(int32_t) { return 0; }
void KTGadgetFunctions::SetAttribute(int32_t, int32_t) {}
void KTGadgetFunctions::SetColor(int32_t type, int64_t colour) { style_.SetColor(type, colour); }
int64_t KTGadgetFunctions::GetColor(int32_t type) { return style_.GetColor(type); }
void KTGadgetFunctions::Reserved25() {}
int32_t KTGadgetFunctions::ReservedGetter26() { return 0; }
void KTGadgetFunctions::Reserved27() {}

void KTGadgetFunctions::Post(int64_t type) const { EventPost(EventKind::Gadget, gadgetId_, window_, type); }

void KTGadgetFunctions::Event() { Post(GadgetEventType::LeftClick); }
void KTGadgetFunctions::EventLeftClick() { Post(GadgetEventType::LeftClick); }
void KTGadgetFunctions::EventLeftDoubleClick() { Post(GadgetEventType::LeftDoubleClick); }
void KTGadgetFunctions::EventRightClick() { Post(GadgetEventType::RightClick); }
void KTGadgetFunctions::EventRightDoubleClick() { Post(GadgetEventType::RightDoubleClick); }
void KTGadgetFunctions::EventChange() { Post(GadgetEventType::Change); }

}  // namespace rt
