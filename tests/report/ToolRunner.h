// Runs the poppler command-line tools on a written file; tests skip when a
// tool is not installed.
#pragma once

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <optional>

namespace ToolRunner {

inline bool available(const QString &tool) { return !QStandardPaths::findExecutable(tool).isEmpty(); }

// The tool's standard output as UTF-8 text, or nothing when it failed.
inline std::optional<QString> run(const QString &tool, const QStringList &args,
                                  const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(tool, args);
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(p.readAllStandardOutput());
}

// Runs of white space as one blank, ends trimmed: layouts may space words apart.
inline QString simplified(const QString &s) { return s.simplified(); }

// The value of a "Key:   value" line of pdfinfo's output.
inline QString infoField(const QString &info, const QString &key)
{
    const QRegularExpression re(QStringLiteral("^") + QRegularExpression::escape(key) + QStringLiteral(":\\s*(.*)$"),
                                QRegularExpression::MultilineOption);
    const auto m = re.match(info);
    return m.hasMatch() ? m.captured(1).trimmed() : QString();
}

} // namespace ToolRunner
