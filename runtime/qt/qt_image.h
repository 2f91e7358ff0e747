// The Qt pixel store of the image library: every image is a KTQImage, a
// QImage over the decoded buffer with a pixmap and an icon made on first use.
#pragma once

#include <QIcon>
#include <QImage>
#include <QPixmap>

#include "core/types.h"

namespace rt {

class KTQImage : public QImage {
 public:
  explicit KTQImage(const QImage& image) : QImage(image) {}
  ~KTQImage() override;
  KTQImage(const KTQImage&) = delete;
  KTQImage& operator=(const KTQImage&) = delete;

  // The caches: converted once, then shared. Null only when memory ran out.
  const QPixmap* Pixmap();
  const QIcon* Icon();

 private:
  QPixmap* pixmap_ = nullptr;
  QIcon* icon_ = nullptr;
};

// ImageHandle (image/image.h) in this back end: the address of a QImage,
// which for an image object is its KTQImage. Gadgets also show any other
// QImage handed to them this way.
inline QImage* ImageOfHandle(intptr_t handle) { return reinterpret_cast<QImage*>(handle); }
inline intptr_t HandleOfImage(QImage* image) { return reinterpret_cast<intptr_t>(image); }
// The KTQImage behind a handle, or null for 0 or a plain QImage.
KTQImage* KTQImageOfHandle(intptr_t handle);

// A pixmap (or icon) sharing the image's cache, made on first use; empty for null.
QPixmap ImagePixmap(KTQImage* image);
QIcon ImageIcon(KTQImage* image);

}  // namespace rt
