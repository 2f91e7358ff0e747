// How gadgets display image objects: a KTQImage through its cached pixmap
// and icon, any other QImage through a converted copy.
#pragma once

#include <QIcon>
#include <QPixmap>

class QImage;

namespace rt {

QPixmap GadgetPixmap(QImage* image);  // an empty pixmap for null
QIcon GadgetIcon(QImage* image);      // an empty icon for null

}  // namespace rt
