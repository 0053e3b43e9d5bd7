#include "platform/Prompter.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>

namespace Platform {

Prompter::~Prompter() = default;

namespace {

QMessageBox::StandardButtons toButtons(MsgButtons b)
{
    switch (b) {
    case MsgButtons::Ok: return QMessageBox::Ok;
    case MsgButtons::OkCancel: return QMessageBox::Ok | QMessageBox::Cancel;
    case MsgButtons::YesNo: return QMessageBox::Yes | QMessageBox::No;
    case MsgButtons::YesNoCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    }
    return QMessageBox::Ok;
}

QMessageBox::Icon toIcon(MsgIcon i)
{
    switch (i) {
    case MsgIcon::None: return QMessageBox::NoIcon;
    case MsgIcon::Information: return QMessageBox::Information;
    case MsgIcon::Warning: return QMessageBox::Warning;
    case MsgIcon::Error: return QMessageBox::Critical;
    case MsgIcon::Question: return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

// Room a window manager's title bar takes beside the caption: the window's
// icon, three border icons and their spacing.
constexpr int kTitleBarIcons = 120;

// Makes a box wide enough for the title bar to show its whole caption; a
// short text alone would make it narrower than its caption.
void fitCaption(QMessageBox &box)
{
    auto *grid = qobject_cast<QGridLayout *>(box.layout());
    if (!grid)
        return;
    QFont title = box.font();
    title.setBold(true);
    const int width = QFontMetrics(title).horizontalAdvance(box.windowTitle()) + kTitleBarIcons;
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                  grid->columnCount());
}

MsgResult fromButton(int b)
{
    switch (b) {
    case QMessageBox::Ok: return MsgResult::Ok;
    case QMessageBox::Yes: return MsgResult::Yes;
    case QMessageBox::No: return MsgResult::No;
    default: return MsgResult::Cancel;
    }
}

class InteractivePrompter final : public Prompter {
public:
    MsgResult messageBox(QWidget *parent, const QString &text, const QString &caption,
                         MsgButtons buttons, MsgIcon icon) override
    {
        QMessageBox box(toIcon(icon), caption, text, toButtons(buttons), parent);
        fitCaption(box);
        return fromButton(box.exec());
    }
    int runDialog(QDialog &dialog) override { return dialog.exec(); }
    std::optional<QString> chooseSaveFile(QWidget *parent, const SaveRequest &r) override
    {
        QFileDialog dlg(parent, r.title, r.initialDir, r.filter);
        dlg.setAcceptMode(QFileDialog::AcceptSave);
        dlg.setDefaultSuffix(r.defaultExt);
        if (!r.fileName.isEmpty())
            dlg.selectFile(r.fileName);
        if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
            return std::nullopt;
        return dlg.selectedFiles().first();
    }
    std::optional<QString> chooseDirectory(QWidget *parent, const QString &title,
                                           const QString &startDir) override
    {
        const QString dir = QFileDialog::getExistingDirectory(parent, title, startDir);
        if (dir.isEmpty())
            return std::nullopt;
        return dir;
    }
};

InteractivePrompter &interactive()
{
    static InteractivePrompter p;
    return p;
}

Prompter *current = nullptr;

QString captionFor(MsgIcon icon)
{
    switch (icon) {
    case MsgIcon::Warning: return QStringLiteral("Warning");
    case MsgIcon::Information: return QStringLiteral("Information");
    case MsgIcon::Question: return QStringLiteral("Confirmation");
    case MsgIcon::Error: return QStringLiteral("Error");
    case MsgIcon::None: break;
    }
    return applicationTitle();
}

} // namespace

Prompter &prompter() { return current ? *current : interactive(); }

void setPrompter(Prompter *p) { current = p; }

QString applicationTitle()
{
    const QString name = QCoreApplication::applicationName();
    return name.isEmpty() ? QStringLiteral("Vantoro") : name;
}

void showMessage(const QString &text, QWidget *parent)
{
    prompter().messageBox(parent, text, applicationTitle(), MsgButtons::Ok, MsgIcon::None);
}

MsgResult messageDlg(const QString &text, MsgIcon icon, MsgButtons buttons, QWidget *parent)
{
    return prompter().messageBox(parent, text, captionFor(icon), buttons, icon);
}

void handleException(std::exception_ptr error) noexcept
{
    try {
        QString text = QStringLiteral("Unknown error");
        try {
            if (error)
                std::rethrow_exception(error);
        } catch (const std::exception &e) {
            text = QString::fromLocal8Bit(e.what());
        } catch (...) {
        }
        prompter().messageBox(nullptr, text, applicationTitle(), MsgButtons::Ok, MsgIcon::Error);
    } catch (...) {
        // Showing the message failed too; nothing sensible is left to do.
    }
}

bool guarded(const std::function<void()> &fn) noexcept
{
    try {
        fn();
        return true;
    } catch (...) {
        handleException(std::current_exception());
        return false;
    }
}

} // namespace Platform
