#include "platform/JpegDecoder.h"

#include <csetjmp>
#include <cstdio> // jpeglib.h needs FILE
#include <jpeglib.h>

namespace Platform {

namespace {

constexpr JDIMENSION kMaxSide = 8192; // far beyond any picture of ours

// libjpeg's default error manager ends the process; this one jumps back
// into decodeJpeg.
struct ErrorManager {
    jpeg_error_mgr base; // first, so libjpeg's pointer is ours
    std::jmp_buf escape;
};

[[noreturn]] void fail(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<ErrorManager *>(info->err)->escape, 1);
}

// Level -1 is a warning about damaged data (the rest of the picture is then
// made up); higher levels are trace messages.
void onMessage(j_common_ptr info, int level)
{
    if (level < 0)
        fail(info);
}

void silent(j_common_ptr) {}

// What a jump may leave: plain data only, so that no object is skipped.
struct Decoding {
    jpeg_decompress_struct info;
    ErrorManager errors;
};

j_common_ptr common(Decoding &d) { return reinterpret_cast<j_common_ptr>(&d.info); }

// Each step arms the jump in its own frame and keeps nothing but plain data.
bool startDecoding(Decoding &d, const QByteArray &data)
{
    if (setjmp(d.errors.escape) != 0)
        return false;
    jpeg_create_decompress(&d.info);
    jpeg_mem_src(&d.info, reinterpret_cast<const unsigned char *>(data.constData()),
                 static_cast<unsigned long>(data.size()));
    jpeg_read_header(&d.info, TRUE);
    if (d.info.image_width > kMaxSide || d.info.image_height > kMaxSide)
        fail(common(d));
    d.info.out_color_space = JCS_RGB; // grey pictures too; other models refuse
    jpeg_start_decompress(&d.info);
    return d.info.output_components == 3;
}

bool readRows(Decoding &d, unsigned char *bits, qsizetype bytesPerLine)
{
    if (setjmp(d.errors.escape) != 0)
        return false;
    while (d.info.output_scanline < d.info.output_height) {
        JSAMPROW row = bits + qsizetype(d.info.output_scanline) * bytesPerLine;
        jpeg_read_scanlines(&d.info, &row, 1);
    }
    jpeg_finish_decompress(&d.info);
    return true;
}

} // namespace

QImage decodeJpeg(const QByteArray &data)
{
    if (data.isEmpty())
        return {};
    Decoding d {};
    d.info.err = jpeg_std_error(&d.errors.base);
    d.errors.base.error_exit = fail;
    d.errors.base.emit_message = onMessage;
    d.errors.base.output_message = silent;
    QImage image;
    if (startDecoding(d, data))
        image = QImage(int(d.info.output_width), int(d.info.output_height), QImage::Format_RGB888);
    const bool whole = !image.isNull() && readRows(d, image.bits(), image.bytesPerLine());
    jpeg_destroy_decompress(&d.info);
    return whole ? image : QImage();
}

} // namespace Platform
