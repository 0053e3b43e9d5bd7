#include "report/TTechMemoForm.h"

#include "platform/KeyPressFilter.h"
#include "platform/Prompter.h"
#include "platform/WindowFrame.h"
#include "report/TMessageForm.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <algorithm>

namespace {

const QString Prefix = QStringLiteral("DAV");
const char *const Captions[] = {"Technician's Name:", "Site Name:", "Validator License Number:"};

// One width for the three labels, so their edits line up: 124 px, or more
// when the font needs it to show the longest caption whole.
int labelWidth(const QWidget *parent)
{
    int width = 124;
    for (const char *caption : Captions)
        width = std::max(width, parent->fontMetrics().horizontalAdvance(QString::fromLatin1(caption)) + 4);
    return width;
}

QLineEdit *labelledEdit(QWidget *parent, const char *name, int row)
{
    const int top = 12 + row * 32;
    const int width = labelWidth(parent);
    auto *label = new QLabel(QString::fromLatin1(Captions[row]), parent);
    label->setGeometry(8, top, width, 24);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setGeometry(8 + width + 4, top, 225, 24);
    label->setBuddy(edit);
    return edit;
}

QPushButton *button(QWidget *parent, const char *name, const QString &text)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(name));
    // Neither button answers Enter.
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

} // namespace

TTechMemoForm::TTechMemoForm(QWidget *Owner)
    : QDialog(Owner)
{
    setObjectName(QStringLiteral("TechMemoForm"));
    Platform::setFrameStyle(*this, Platform::FrameStyle::NoIcons);
    setWindowTitle(QStringLiteral("Technician's Report"));
    setFixedSize(645, 390);

    TechnicianNameEB = labelledEdit(this, "TechnicianNameEB", 0);
    SiteNameEB = labelledEdit(this, "SiteNameEB", 1);
    ValidatorLicenseNumberEB = labelledEdit(this, "ValidatorLicenseNumberEB", 2);
    ValidatorLicenseNumberEB->setText(Prefix);
    ValidatorLicenseNumberEB->setMaxLength(8);
    Platform::KeyPressFilter::install(ValidatorLicenseNumberEB,
                                      [this](QChar key) { return ValidatorLicenseNumberEBKeyPress(key); });
    ValidatorLicenseNumberEB->installEventFilter(this);

    Label1 = new QLabel(QStringLiteral(" Notes:"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(8, 108, 200, 20);
    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setGeometry(8, 130, 629, 207);
    Label1->setBuddy(Memo1);

    OKBtn = button(this, "OKBtn", QStringLiteral("Continue"));
    OKBtn->setGeometry(456, 350, 85, 30);
    connect(OKBtn, &QPushButton::clicked, this, [this] { Platform::guarded([this] { OKBtnClick(); }); });
    CancelBtn = button(this, "CancelBtn", QStringLiteral("Cancel"));
    CancelBtn->setGeometry(552, 350, 85, 30);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

    setTabOrder(TechnicianNameEB, SiteNameEB);
    setTabOrder(SiteNameEB, ValidatorLicenseNumberEB);
    setTabOrder(ValidatorLicenseNumberEB, Memo1);
    setTabOrder(Memo1, OKBtn);
    setTabOrder(OKBtn, CancelBtn);
}

int TTechMemoForm::memoLineCount(const QPlainTextEdit &memo)
{
    const QString text = memo.toPlainText();
    if (text.isEmpty())
        return 0;
    const auto lines = text.split(QLatin1Char('\n'));
    return static_cast<int>(lines.size()) - (lines.last().isEmpty() ? 1 : 0);
}

void TTechMemoForm::OKBtnClick()
{
    if (TechnicianNameEB->text().isEmpty()) {
        ShowMessageForm("Please enter your name");
        return;
    }
    if (memoLineCount(*Memo1) == 0) {
        ShowMessageForm("Please add some notes");
        return;
    }
    if (ValidatorLicenseNumberEB->text() == Prefix)
        ValidatorLicenseNumberEB->clear();
    accept();
}

bool TTechMemoForm::ValidatorLicenseNumberEBKeyPress(QChar key)
{
    const char16_t c = key.unicode();
    if (c >= '0' && c <= '9')
        return true;
    if (c == 8 || c == 12)
        return ValidatorLicenseNumberEB->text() != Prefix; // the prefix cannot be rubbed out
    return false;
}

void TTechMemoForm::ValidatorLicenseNumberEBKeyUp()
{
    if (!ValidatorLicenseNumberEB->text().startsWith(Prefix))
        ValidatorLicenseNumberEB->setText(Prefix);
}

void TTechMemoForm::ShowMessageForm(const std::string &text)
{
    TMessageForm box(this, text);
    Platform::prompter().runDialog(box);
}

bool TTechMemoForm::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ValidatorLicenseNumberEB && event->type() == QEvent::KeyRelease) {
        const bool result = QDialog::eventFilter(watched, event);
        ValidatorLicenseNumberEBKeyUp();
        return result;
    }
    return QDialog::eventFilter(watched, event);
}

void TTechMemoForm::keyPressEvent(QKeyEvent *event)
{
    // Escape presses no button here; the technician uses Cancel.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
