// Image gadgets (kind 9): a label showing an image object at the image's own
// size. Clicks, double clicks and drags on it post gadget events. The gadget
// shows a copy and does not own the image; its state is the image shown.
#pragma once

#include <cstdint>

#include "core/types.h"
#include "qt/gadget_functions.h"

class QImage;
class QLabel;

namespace rt {

namespace ImageGadgetFlags {
constexpr int32_t Sunken = 0x01;
constexpr int32_t Raised = 0x02;  // only without Sunken
}  // namespace ImageGadgetFlags

class KTImageFunctions : public KTGadgetFunctions {
  Q_OBJECT

 public:
  KTImageFunctions(QLabel* label, const GadgetIdentity& identity, int32_t flags);

  int64_t GetState() override;           // the image shown, as its address; 0 for none
  void SetState(int64_t image) override;  // an image address, or 0

  void Show(QImage* image);

 private:
  QLabel* label_;
  QImage* image_ = nullptr;
};

// `image` is an image's handle (ImageHandle) or 0; with an image the
// gadget takes the image's size instead of width and height.
intptr_t ImageGadget(ObjectNumber number, int32_t x, int32_t y, int32_t width, int32_t height, intptr_t image,
                     int32_t flags);
inline intptr_t ImageGadget(ObjectNumber number, int32_t x, int32_t y, int32_t width, int32_t height, intptr_t image) {
  return ImageGadget(number, x, y, width, height, image, 0);
}

}  // namespace rt
