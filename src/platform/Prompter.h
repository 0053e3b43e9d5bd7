// One seam for every message box, file chooser and modal dialog, so that
// tests can answer them headless and record what was asked.
#pragma once

#include <QString>
#include <exception>
#include <functional>
#include <optional>

class QDialog;
class QWidget;

namespace Platform {

enum class MsgIcon { None, Information, Warning, Error, Question };
enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MsgResult { Ok, Cancel, Yes, No };

struct SaveRequest {
    QString title;
    QString initialDir;
    QString fileName;
    QString filter;      // "PDF files (*.pdf)" style
    QString defaultExt;  // without the dot
};

class Prompter {
public:
    virtual ~Prompter();

    // A message box with a caption of its own (the system's message box).
    virtual MsgResult messageBox(QWidget *parent, const QString &text, const QString &caption,
                                 MsgButtons buttons, MsgIcon icon) = 0;
    // Runs a modal dialog and returns its result code (QDialog::Accepted/Rejected
    // or the code passed to done()).
    virtual int runDialog(QDialog &dialog) = 0;
    // A save-file chooser; empty when the technician cancels.
    virtual std::optional<QString> chooseSaveFile(QWidget *parent, const SaveRequest &request) = 0;
    // A folder chooser; empty when the technician cancels.
    virtual std::optional<QString> chooseDirectory(QWidget *parent, const QString &title,
                                                   const QString &startDir) = 0;
};

// The prompter in use: the interactive one unless a test installed another.
Prompter &prompter();
// Installs a prompter (not owned); nullptr puts the interactive one back.
void setPrompter(Prompter *p);

// The caption the application's title gives a plain message ("ShowMessage").
QString applicationTitle();

// Plain message with the application title and an OK button.
void showMessage(const QString &text, QWidget *parent = nullptr);
// Message with the caption its icon implies ("Warning", "Information",
// "Confirmation", "Error") and the given buttons.
MsgResult messageDlg(const QString &text, MsgIcon icon, MsgButtons buttons, QWidget *parent = nullptr);

// What the application's top-level handler does with an exception that left
// an event handler: show its message, then go on. Never throws.
void handleException(std::exception_ptr error) noexcept;
// Runs fn and routes any exception to handleException; returns false when one was caught.
bool guarded(const std::function<void()> &fn) noexcept;

} // namespace Platform
