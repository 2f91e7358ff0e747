#include "qt/gadget_images.h"

#include <QImage>

#include "qt/qt_image.h"

namespace rt {

QPixmap GadgetPixmap(QImage* image) {
  if (!image) return QPixmap();
  if (auto* cached = dynamic_cast<KTQImage*>(image)) return ImagePixmap(cached);
  return QPixmap::fromImage(*image);
}

QIcon GadgetIcon(QImage* image) {
  if (!image) return QIcon();
  if (auto* cached = dynamic_cast<KTQImage*>(image)) return ImageIcon(cached);
  return QIcon(QPixmap::fromImage(*image));
}

}  // namespace rt
