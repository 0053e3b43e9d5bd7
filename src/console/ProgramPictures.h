// The two pictures the program ships as JPEG files, built in as resources:
// the product picture of the about box (363 x 126) and the picture in the
// main window's top panel. They are decoded with libjpeg when shown; a
// damaged file leaves its place blank, without a word.
#pragma once

#include <QByteArray>
#include <QPixmap>
#include <QSize>

namespace Console {

enum class Picture { Product, TopPanel };

// The picture's size as shipped: its place in the window keeps it.
QSize pictureSize(Picture which);
// The shipped file's bytes.
QByteArray pictureData(Picture which);
// The picture decoded from `jpeg`; a null pixmap when it is damaged.
QPixmap pictureFrom(const QByteArray &jpeg);
QPixmap picture(Picture which);

} // namespace Console
