#include "qt/qt_image.h"

#include <new>

#include "core/memory.h"
#include "image/image.h"
#include "image/image_store.h"

namespace rt {

KTQImage::~KTQImage() {
  delete pixmap_;
  delete icon_;
}

const QPixmap* KTQImage::Pixmap() {
  if (!pixmap_) pixmap_ = new (std::nothrow) QPixmap(QPixmap::fromImage(*this));
  return pixmap_;
}

const QIcon* KTQImage::Icon() {
  if (!icon_) {
    const QPixmap* pixmap = Pixmap();
    if (pixmap) icon_ = new (std::nothrow) QIcon(*pixmap);
  }
  return icon_;
}

intptr_t ImageHandle(ObjectNumber number) {
  return HandleOfImage(static_cast<KTQImage*>(ImageObject(number)));
}

KTQImage* KTQImageOfHandle(intptr_t handle) { return dynamic_cast<KTQImage*>(ImageOfHandle(handle)); }

QPixmap ImagePixmap(KTQImage* image) {
  const QPixmap* pixmap = image ? image->Pixmap() : nullptr;
  return pixmap ? *pixmap : QPixmap();
}

QIcon ImageIcon(KTQImage* image) {
  const QIcon* icon = image ? image->Icon() : nullptr;
  return icon ? *icon : QIcon();
}

namespace {

// The buffer is decoded in place and handed to the QImage, which frees it
// with SizedFree when the last copy sharing it goes.
void* Create(ImageDecodeState* state) {
  ImageLayout layout;
  if (!ImageLayoutFor(state->width, state->height, state->depth, &layout)) return nullptr;
  auto* buffer = static_cast<uchar*>(SizedAlloc(layout.bufferSize));
  if (!buffer) return nullptr;
  // A decode that fails part way still makes the image: the rest stays zero.
  ImageDecodeInto(state, buffer, layout.stride, 0);
  const QImage::Format format = state->depth == 32 ? QImage::Format_RGBA8888 : QImage::Format_RGB888;
  const QImage wrapped(buffer, state->width, state->height, static_cast<int>(layout.stride), format, SizedFree, buffer);
  if (wrapped.isNull()) {  // Qt refused the buffer and did not take it over
    SizedFree(buffer);
    return nullptr;
  }
  return new (std::nothrow) KTQImage(wrapped);
}

void Release(void* image) { delete static_cast<KTQImage*>(image); }

bool Pixels(void* object, ImagePixels* view) {
  const auto* image = static_cast<const KTQImage*>(object);
  if (!image || image->isNull()) return false;
  const int depth = image->format() == QImage::Format_RGBA8888 ? 32 : image->format() == QImage::Format_RGB888 ? 24 : 0;
  if (!depth) return false;
  *view = ImagePixels{image->constBits(), image->width(), image->height(), image->bytesPerLine(), depth, 0};
  return true;
}

const ImageStore kQtImageStore = {Create, Release, Pixels, nullptr};

}  // namespace

void ImageLibraryStart() { ImageLibraryStartWith(&kQtImageStore); }

}  // namespace rt
