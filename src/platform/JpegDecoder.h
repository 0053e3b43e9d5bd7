// Decodes a JPEG picture held in memory, through libjpeg's own interface.
//
// Anything wrong with the data (not a JPEG file, cut off, a corrupted
// stream, a colour model other than grey or colour, a picture too large to
// be one of ours) gives a null image: libjpeg's errors end the decoding
// here instead of the program, and its warnings, which would otherwise
// print and hand back a picture filled in with grey, count as errors too.
// Nothing is printed.
#pragma once

#include <QByteArray>
#include <QImage>

namespace Platform {

QImage decodeJpeg(const QByteArray &data);

} // namespace Platform
