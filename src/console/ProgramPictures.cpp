#include "console/ProgramPictures.h"

#include "platform/JpegDecoder.h"

#include <QFile>

// Resources of a static library are registered by name, outside any namespace.
static void registerPictures() { Q_INIT_RESOURCE(pictures); }

namespace Console {

namespace {

const char *resourceOf(Picture which)
{
    return which == Picture::Product ? ":/pictures/ProgramIcon.jpg" : ":/pictures/TopPanelImage.jpg";
}

} // namespace

QSize pictureSize(Picture which) { return which == Picture::Product ? QSize(363, 126) : QSize(32, 32); }

QByteArray pictureData(Picture which)
{
    static const bool registered = (registerPictures(), true);
    (void)registered;
    QFile file(QLatin1String(resourceOf(which)));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QPixmap pictureFrom(const QByteArray &jpeg) { return QPixmap::fromImage(Platform::decodeJpeg(jpeg)); }

QPixmap picture(Picture which) { return pictureFrom(pictureData(which)); }

} // namespace Console
