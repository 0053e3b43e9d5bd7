#include "report/TMessageForm.h"

#include "platform/WindowFrame.h"

#include <QPlainTextEdit>
#include <QPushButton>

TMessageForm::TMessageForm(QWidget *Owner, const std::string &text)
    : QDialog(Owner, Qt::Dialog | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("MessageForm"));
    Platform::setFrameStyle(*this, Platform::FrameStyle::NoIcons);
    setWindowTitle(QStringLiteral("Vantoro"));
    setFixedSize(449, 92);

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    Memo1->setPlainText(QStringLiteral("\n") + QString::fromStdString(text));

    OkButton = new QPushButton(QStringLiteral("Ok"), this);
    OkButton->setObjectName(QStringLiteral("OkButton"));
    OkButton->resize(75, 27);
    connect(OkButton, &QPushButton::clicked, this, &QDialog::accept);
    placeControls();
}

void TMessageForm::placeControls()
{
    // The memo spans the width at the top; the button keeps to the bottom right.
    Memo1->setGeometry(0, 0, width(), 51);
    OkButton->move(width() - OkButton->width() - 8, height() - OkButton->height() - 6);
}
