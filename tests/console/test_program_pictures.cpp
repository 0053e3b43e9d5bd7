// The shipped pictures, decoded with libjpeg: each one whole and as drawn,
// and damaged copies of them, which leave a blank place, never a crash, a
// message or a word on the terminal.
#include "console/ProgramPictures.h"
#include "platform/JpegDecoder.h"
#include "support/ScriptedPrompter.h"

#include <QColor>
#include <QFile>
#include <QTemporaryFile>
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <unistd.h>

namespace {

using Console::Picture;

int distance(QColor a, QColor b)
{
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue());
}

// Where the given marker's segment starts (at its 0xFF), or -1.
qsizetype markerAt(const QByteArray &jpeg, unsigned char marker)
{
    return jpeg.indexOf(QByteArray("\xff") + char(marker));
}

// What the decoder writes to standard error while `fn` runs.
QByteArray standardErrorOf(const std::function<void()> &fn)
{
    QTemporaryFile capture;
    EXPECT_TRUE(capture.open());
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(capture.handle(), STDERR_FILENO);
    fn();
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    capture.seek(0);
    return capture.readAll();
}

TEST(ProgramPictures, EachShippedPictureDecodesWholeAndAsDrawn)
{
    const struct {
        const char *what;
        Picture which;
        QPoint spot;
        QColor colour; // as drawn there
    } pictures[] = {
        {"product picture, its white ground", Picture::Product, {2, 2}, Qt::white},
        {"product picture, the meter head", Picture::Product, {105, 50}, QColor(40, 84, 130)},
        {"top-panel picture, the panel's ground", Picture::TopPanel, {0, 0}, QColor(0xef, 0xef, 0xef)},
        {"top-panel picture, the disc", Picture::TopPanel, {6, 16}, QColor(0, 90, 160)},
    };
    for (const auto &p : pictures) {
        SCOPED_TRACE(p.what);
        const QByteArray data = Console::pictureData(p.which);
        ASSERT_FALSE(data.isEmpty()) << "not built in";
        EXPECT_TRUE(data.startsWith("\xff\xd8\xff")) << "not a JPEG file";
        const QImage image = Platform::decodeJpeg(data);
        ASSERT_EQ(image.size(), Console::pictureSize(p.which));
        EXPECT_LE(distance(image.pixelColor(p.spot), p.colour), 24) << image.pixelColor(p.spot).name().toStdString();
        EXPECT_EQ(Console::picture(p.which).size(), Console::pictureSize(p.which));
    }
    EXPECT_EQ(Console::pictureSize(Picture::Product), QSize(363, 126));
}

TEST(ProgramPictures, ADamagedPictureLeavesItsPlaceBlankWithoutAWord)
{
    const QByteArray good = Console::pictureData(Picture::Product);
    ASSERT_GT(good.size(), 1000);
    const qsizetype frame = markerAt(good, 0xC0);
    const qsizetype scan = markerAt(good, 0xDA);
    ASSERT_GT(frame, 0);
    ASSERT_GT(scan, frame);
    const struct {
        const char *what;
        std::function<QByteArray()> damage;
    } copies[] = {
        {"empty", [] { return QByteArray(); }},
        {"cut off in its headers", [&] { return good.left(frame + 4); }},
        {"cut off half way", [&] { return good.left(good.size() / 2); }},
        {"cut off before its end marker", [&] { return good.left(good.size() - 2); }},
        {"not a JPEG file", [&] { return QByteArray(good).replace(0, 2, "PK"); }},
        {"its picture data overwritten", [&] {
             QByteArray bad = good;
             for (qsizetype i = scan + 40; i < scan + 400; i += 3)
                 bad[i] = char(0xff);
             return bad;
         }},
        {"a frame of no height", [&] {
             QByteArray bad = good;
             bad[frame + 5] = bad[frame + 6] = 0;
             return bad;
         }},
        {"a frame far too large", [&] {
             QByteArray bad = good;
             bad[frame + 5] = bad[frame + 7] = char(0xff);
             return bad;
         }},
    };
    TestSupport::ScriptedPrompter prompter;
    for (const auto &c : copies) {
        SCOPED_TRACE(c.what);
        const QByteArray bad = c.damage();
        QPixmap shown;
        const QByteArray said = standardErrorOf([&] { shown = Console::pictureFrom(bad); });
        EXPECT_TRUE(shown.isNull()) << shown.width() << "x" << shown.height();
        EXPECT_EQ(said.toStdString(), "");
    }
    EXPECT_TRUE(prompter.messages.empty());
    EXPECT_FALSE(Console::pictureFrom(good).isNull()) << "the good copy still decodes";
}

} // namespace
