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

// The KTQImage of a live image, or null.
KTQImage* ImageHandle(ObjectNumber number);

// A pixmap (or icon) sharing the image's cache, made on first use; empty for null.
QPixmap ImagePixmap(KTQImage* image);
QIcon ImageIcon(KTQImage* image);

}  // namespace rt
