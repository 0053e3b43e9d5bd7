#include "console/TAboutBox.h"

#include "console/ProgramInfo.h"
#include "console/ProgramPictures.h"
#include "platform/ShellOpen.h"
#include "platform/WindowFrame.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>

TAboutBox::TAboutBox(QWidget *Owner)
    : QDialog(Owner)
{
    setObjectName(QStringLiteral("AboutBox"));
    Platform::setFrameStyle(*this, Platform::FrameStyle::NoIcons);
    setWindowTitle(QStringLiteral("About"));
    setFixedSize(400, 239);

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(8, 8, 384, 186);
    Panel1->setFrameShape(QFrame::StyledPanel);
    Panel1->setAutoFillBackground(true);
    QPalette white = Panel1->palette();
    white.setColor(QPalette::Window, Qt::white);
    white.setColor(QPalette::WindowText, Qt::black);
    Panel1->setPalette(white);

    ProgramIcon = new QLabel(Panel1);
    ProgramIcon->setObjectName(QStringLiteral("ProgramIcon"));
    ProgramIcon->setGeometry(QRect(QPoint(10, 6), Console::pictureSize(Console::Picture::Product)));
    ProgramIcon->setPixmap(Console::picture(Console::Picture::Product));

    ProductName = new QLabel(Panel1);
    ProductName->setObjectName(QStringLiteral("ProductName"));
    QFont bold = ProductName->font();
    bold.setBold(true);
    ProductName->setFont(bold);
    ProductName->setGeometry(12, 136, 150, 18);

    Version = new QLabel(Panel1);
    Version->setObjectName(QStringLiteral("Version"));
    Version->setGeometry(12, 158, 150, 18);

    Copyright = new QLabel(Panel1);
    Copyright->setObjectName(QStringLiteral("Copyright"));
    Copyright->setGeometry(130, 136, 244, 18);
    Copyright->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Copyright->setText(QStringLiteral("\u00A9 Stelvanor. All rights reserved."));

    LinkLabel1 = new QLabel(Panel1);
    LinkLabel1->setObjectName(QStringLiteral("LinkLabel1"));
    LinkLabel1->setGeometry(130, 158, 244, 18);
    LinkLabel1->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    LinkLabel1->setTextFormat(Qt::RichText);
    LinkLabel1->setOpenExternalLinks(false);
    LinkLabel1->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    connect(LinkLabel1, &QLabel::linkActivated, this, &TAboutBox::LinkLabel1LinkClick);

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setGeometry(162, 203, 75, 27);
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);

    FormCreate();
}

void TAboutBox::FormCreate()
{
    Version->setText(QString::fromUtf8(Console::VersionText));
    ProductName->setText(QString::fromUtf8(Console::ProductName));
    const QString link = QString::fromUtf8(Console::MakerLink);
    LinkLabel1->setText(QStringLiteral("<a href=\"%1\">%1</a>").arg(link.toHtmlEscaped()));
}

void TAboutBox::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        Platform::centreOnScreen(*this);
}

void TAboutBox::LinkLabel1LinkClick(const QString &Link)
{
    Platform::shellOpenOrTell(Link, this);
}
