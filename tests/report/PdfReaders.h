// The PDF readers people use, run on a written file: poppler's pdftotext
// (behind most Linux desktop viewers), mupdf's mutool and pdf.js (the
// browser's viewer, under node). Each gives back a page's text as its own
// users get it.
#pragma once

#include "ToolRunner.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <optional>

namespace PdfReaders {

enum class Reader { Poppler, Mupdf, Pdfjs };

constexpr Reader kAll[] = {Reader::Poppler, Reader::Mupdf, Reader::Pdfjs};

inline const char *name(Reader r)
{
    switch (r) {
    case Reader::Poppler: return "pdftotext";
    case Reader::Mupdf: return "mutool";
    case Reader::Pdfjs: return "pdf.js";
    }
    return "";
}

// pdf.js as Debian packages it, and the script that prints its text.
inline QString pdfjsLibrary() { return QStringLiteral("/usr/share/javascript/pdf/build/pdf.js"); }
inline QString pdfjsScript() { return QStringLiteral(VANTORO_PDFJS_TEXT); }

inline bool available(Reader r)
{
    if (r == Reader::Pdfjs)
        return ToolRunner::available(QStringLiteral("node")) && QFileInfo::exists(pdfjsLibrary());
    return ToolRunner::available(QString::fromLatin1(name(r)));
}

// The text of one page (1-based) as the reader gives it, or nothing when it
// failed. poppler's marks of embedded direction (which it adds around a
// right-to-left run) are taken out.
inline std::optional<QString> pageText(Reader r, const QString &path, int page)
{
    const QString p = QString::number(page);
    switch (r) {
    case Reader::Poppler: {
        std::optional<QString> text = ToolRunner::run(QStringLiteral("pdftotext"),
                                                      {QStringLiteral("-f"), p, QStringLiteral("-l"), p, path, QStringLiteral("-")});
        if (text)
            text->remove(QRegularExpression(QStringLiteral("[\u202a-\u202e]")));
        return text;
    }
    case Reader::Mupdf:
        return ToolRunner::run(QStringLiteral("mutool"),
                               {QStringLiteral("draw"), QStringLiteral("-q"), QStringLiteral("-F"), QStringLiteral("txt"), path, p});
    case Reader::Pdfjs:
        return ToolRunner::run(QStringLiteral("node"), {pdfjsScript(), path, p, p});
    }
    return std::nullopt;
}

} // namespace PdfReaders
