#include "console/TStringQuery.h"

#include "platform/KeyPressFilter.h"
#include "platform/WindowFrame.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

TStringQuery::TStringQuery(QWidget *Owner)
    : QDialog(Owner, Qt::Dialog | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("StringQuery"));
    Platform::setFrameStyle(*this, Platform::FrameStyle::NoIcons);
    setWindowTitle(QStringLiteral("Access Code Query"));
    setFixedSize(380, 113);

    Label = new QLabel(this);
    Label->setObjectName(QStringLiteral("Label"));
    Label->setAlignment(Qt::AlignCenter);
    Label->setGeometry(16, 10, 348, 20);

    Edit = new QLineEdit(this);
    Edit->setObjectName(QStringLiteral("Edit"));
    Edit->setGeometry(100, 38, 180, 24);
    Platform::KeyPressFilter::install(Edit, [this](QChar key) { return EditKeyPress(key); });

    OkBtn = new QPushButton(QStringLiteral("Ok"), this);
    OkBtn->setObjectName(QStringLiteral("OkBtn"));
    OkBtn->setGeometry(100, 76, 85, 27);
    connect(OkBtn, &QPushButton::clicked, this, &QDialog::accept);

    CancelBtn = new QPushButton(QStringLiteral("Cancel"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    CancelBtn->setGeometry(195, 76, 85, 27);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

    setWindowTitle(QStringLiteral("Vantoro"));
}

void TStringQuery::FormShow() { Edit->setFocus(); }

void TStringQuery::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    FormShow();
}

bool TStringQuery::EditKeyPress(QChar key)
{
    const char16_t c = key.unicode();
    if (c == 8 || c == 12 || (c >= '0' && c <= '9'))
        return true;
    if (c == 13) {
        accept();
        return false;
    }
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
