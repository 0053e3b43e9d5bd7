// The PDF readers people use, run on a written file: poppler's pdftotext
// (behind most Linux desktop viewers), mupdf's mutool and pdf.js (the
// browser's viewer, under node). Each gives back a page's text as its own
// users get it.
#pragma once

#include "ToolRunner.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
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

// The node that runs pdf.js: Debian's where it is installed, else the first
// on the PATH; empty when there is none.
inline QString nodeProgram()
{
    const QString debian = QStringLiteral("/usr/bin/node");
    if (QFileInfo(debian).isExecutable())
        return debian;
    return QStandardPaths::findExecutable(QStringLiteral("node"));
}

// Why the reader cannot run here, empty when it can. scripts/install-deps
// brings every reader, so a test that needs a missing one fails with this.
inline QString missing(Reader r)
{
    const auto install = [](const QString &what, const char *package) {
        return what + QStringLiteral(" (Debian's %1): run scripts/install-deps").arg(QString::fromLatin1(package));
    };
    switch (r) {
    case Reader::Poppler:
    case Reader::Mupdf:
        if (ToolRunner::available(QString::fromLatin1(name(r))))
            return QString();
        return install(QStringLiteral("%1 not found").arg(QString::fromLatin1(name(r))),
                       r == Reader::Poppler ? "poppler-utils" : "mupdf-tools");
    case Reader::Pdfjs:
        if (nodeProgram().isEmpty())
            return install(QStringLiteral("pdf.js runs under node, and no node was found"), "nodejs");
        if (!QFileInfo::exists(pdfjsLibrary()))
            return install(QStringLiteral("pdf.js not found at ") + pdfjsLibrary(), "libjs-pdf");
        return QString();
    }
    return QString();
}

inline bool available(Reader r) { return missing(r).isEmpty(); }

// The text of pages first to last (1-based) as the reader gives it, or
// nothing when it failed. poppler's marks of embedded direction (which it
// adds around a right-to-left run) are taken out.
inline std::optional<QString> pagesText(Reader r, const QString &path, int first, int last)
{
    const QString from = QString::number(first), to = QString::number(last);
    switch (r) {
    case Reader::Poppler: {
        std::optional<QString> text = ToolRunner::run(QStringLiteral("pdftotext"),
                                                      {QStringLiteral("-f"), from, QStringLiteral("-l"), to, path, QStringLiteral("-")});
        if (text)
            text->remove(QRegularExpression(QStringLiteral("[\u202a-\u202e]")));
        return text;
    }
    case Reader::Mupdf:
        return ToolRunner::run(QStringLiteral("mutool"), {QStringLiteral("draw"), QStringLiteral("-q"), QStringLiteral("-F"),
                                                          QStringLiteral("txt"), path, from + QLatin1Char('-') + to});
    case Reader::Pdfjs:
        return ToolRunner::run(nodeProgram(), {pdfjsScript(), path, from, to});
    }
    return std::nullopt;
}

inline std::optional<QString> pageText(Reader r, const QString &path, int page) { return pagesText(r, path, page, page); }

} // namespace PdfReaders
