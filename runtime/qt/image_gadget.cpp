#include "qt/image_gadget.h"

#include <QImage>
#include <QLabel>

#include "qt/event_kind.h"
#include "qt/gadget_create.h"
#include "qt/gadget_event_filter.h"
#include "qt/gadget_images.h"
#include "qt/qt_image.h"

namespace rt {

KTImageFunctions::KTImageFunctions(QLabel* label, const GadgetIdentity& identity, int32_t flags)
    : KTGadgetFunctions(label, identity, flags), label_(label) {}

int64_t KTImageFunctions::GetState() { return static_cast<int64_t>(reinterpret_cast<intptr_t>(image_)); }

void KTImageFunctions::SetState(int64_t image) {
  Show(reinterpret_cast<QImage*>(static_cast<intptr_t>(image)));
  if (image_) label_->resize(image_->size());
}

void KTImageFunctions::Show(QImage* image) {
  image_ = image;
  label_->setPixmap(GadgetPixmap(image));
}

intptr_t ImageGadget(ObjectNumber number, int32_t x, int32_t y, int32_t width, int32_t height, intptr_t handle,
                     int32_t flags) {
  QImage* image = ImageOfHandle(handle);
  return GadgetCreate(
      number, GadgetKind::Image, x, y, width, height, [](QWidget* parent) { return new QLabel(parent); },
      [image, flags](QWidget* widget, const GadgetIdentity& identity, int32_t* w, int32_t* h) -> KTGadgetFunctions* {
        auto* label = static_cast<QLabel*>(widget);
        auto* functions = new KTImageFunctions(label, identity, flags);
        if (flags & ImageGadgetFlags::Sunken) {
          label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        } else if (flags & ImageGadgetFlags::Raised) {
          label->setFrameStyle(QFrame::Panel | QFrame::Raised);
        }
        if (image) {
          functions->Show(image);
          *w = image->width();
          *h = image->height();
        }
        auto* filter = new KTEventFilter(label, identity.id);
        filter->Enable(GadgetEventType::LeftClick);
        filter->Enable(GadgetEventType::LeftDoubleClick);
        filter->Enable(GadgetEventType::RightClick);
        filter->Enable(GadgetEventType::RightDoubleClick);
        filter->Enable(GadgetEventType::DragBegin);
        return functions;
      });
}

}  // namespace rt
