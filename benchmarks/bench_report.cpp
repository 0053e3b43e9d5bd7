// Times writing the meter report's PDF file: a typical all-Latin report,
// or with Japanese and Chinese notes (--cjk), laid out and exported again
// and again, fontconfig's cache warm. Prints the mean time per report and
// leaves the last file at the path given.
//
//   bench_report out.pdf [--cjk] [reports]
#include "../tests/report/ReportFixture.h"
#include "report/RptPdfExport.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) {
        std::fprintf(stderr, "usage: bench_report out.pdf [--cjk] [reports]\n");
        return 2;
    }
    const bool cjk = args.contains(QStringLiteral("--cjk"));
    int reports = 20;
    for (const QString &a : args)
        if (a.toInt() > 0)
            reports = a.toInt();
    ReportFixture::Feed feed = ReportFixture::Feed::typicalLatin();
    if (cjk)
        feed[ReportFixture::Notes] << QStringLiteral("\u6d41\u91cf\u8a08\u3092\u70b9\u691c\u3057\u307e\u3057\u305f\u3002\u96fb\u6975\u3092\u6e05\u6383\u3057\u307e\u3057\u305f\u3002")
                                   << QStringLiteral("\u6d41\u91cf\u8ba1\u5df2\u68c0\u67e5\uff0c\u7535\u6781\u5df2\u6e05\u6d01\uff0c\u8bfb\u6570\u7a33\u5b9a\u3002");
    TRptReport report;
    feed.bind(report);
    TRptPDFExport pdf;
    pdf.FileName = args.front();
    // The first report opens the fonts and reads fontconfig's cache.
    QElapsedTimer timer;
    timer.start();
    if (!report.PrepareReport() || !report.Export(pdf)) {
        std::fprintf(stderr, "failed: %s\n", qPrintable(pdf.lastError));
        return 1;
    }
    std::printf("%.2f ms the first report, ", double(timer.nsecsElapsed()) / 1e6);
    timer.restart();
    for (int i = 0; i < reports; ++i)
        if (!report.PrepareReport() || !report.Export(pdf))
            return 1;
    std::printf("%.2f ms each further one (%d reports), %lld bytes\n", double(timer.nsecsElapsed()) / 1e6 / reports, reports,
                static_cast<long long>(QFileInfo(pdf.FileName).size()));
    return 0;
}
