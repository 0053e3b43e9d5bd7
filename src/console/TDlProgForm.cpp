#include "console/TDlProgForm.h"

#include "platform/WindowFrame.h"

#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QToolButton>

TDlProgForm::TDlProgForm(QWidget *Owner, bool showCancel)
    : QDialog(Owner)
{
    setObjectName(QStringLiteral("DlProgForm"));
    Platform::setFrameStyle(*this, Platform::FrameStyle::NoIcons);
    setWindowTitle(QStringLiteral("Data Download"));
    setFixedSize(397, 135);

    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setGeometry(16, 16, 365, 24);

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(20);
    ProgressBar1->setGeometry(16, 52, 365, 22);

    // A second line under the bar, empty unless its user has more to say.
    Label2 = new QLabel(this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setAlignment(Qt::AlignCenter);
    Label2->setGeometry(16, 78, 365, 22);

    CancelBtn = new QToolButton(this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    CancelBtn->setText(QStringLiteral("Cancel download"));
    CancelBtn->setGeometry(136, 102, 125, 28);
    CancelBtn->setVisible(showCancel);
    connect(CancelBtn, &QToolButton::clicked, this, &TDlProgForm::CancelBtnClick);
}

void TDlProgForm::SetProgress(const std::string &caption, const std::string &text, int position)
{
    setWindowTitle(QString::fromStdString(caption));
    Label1->setText(QString::fromStdString(text));
    ProgressBar1->setValue(position);
}

void TDlProgForm::SetNote(const std::string &text) { Label2->setText(QString::fromStdString(text)); }

void TDlProgForm::CancelBtnClick() { cancelled = true; }

// Neither the window manager nor Escape may take the dialog away from its user.
void TDlProgForm::closeEvent(QCloseEvent *event) { event->ignore(); }
void TDlProgForm::reject() {}
