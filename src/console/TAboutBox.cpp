#include "console/TAboutBox.h"

#include "console/ProgramInfo.h"
#include "platform/ShellOpen.h"
#include "platform/WindowFrame.h"

#include <QFrame>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
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
    ProgramIcon->setGeometry(10, 6, 363, 126);
    ProgramIcon->setPixmap(productPicture(ProgramIcon->size()));

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

QPixmap TAboutBox::productPicture(const QSize &size)
{
    QPixmap picture(size);
    picture.fill(Qt::white);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal w = size.width(), h = size.height();

    // A pipe section with water running through it and the meter on top.
    QLinearGradient steel(0, h * 0.45, 0, h * 0.85);
    steel.setColorAt(0, QColor(190, 198, 206));
    steel.setColorAt(0.5, QColor(240, 243, 246));
    steel.setColorAt(1, QColor(120, 130, 142));
    p.setPen(QPen(QColor(90, 100, 112), 1.5));
    p.setBrush(steel);
    p.drawRoundedRect(QRectF(w * 0.04, h * 0.50, w * 0.52, h * 0.30), 6, 6);
    for (qreal x : {w * 0.04, w * 0.50})
        p.drawRoundedRect(QRectF(x, h * 0.44, w * 0.06, h * 0.42), 3, 3);

    QPainterPath wave;
    wave.moveTo(w * 0.11, h * 0.65);
    for (int i = 0; i < 4; ++i) {
        const qreal x0 = w * (0.11 + i * 0.095);
        wave.cubicTo(x0 + w * 0.03, h * 0.58, x0 + w * 0.06, h * 0.72, x0 + w * 0.095, h * 0.65);
    }
    p.setPen(QPen(QColor(30, 120, 200), 3, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(wave);

    // The meter head with its display.
    p.setPen(QPen(QColor(40, 60, 80), 1.5));
    p.setBrush(QColor(40, 84, 130));
    p.drawRect(QRectF(w * 0.27, h * 0.36, w * 0.06, h * 0.14));
    p.drawRoundedRect(QRectF(w * 0.19, h * 0.08, w * 0.22, h * 0.30), 8, 8);
    p.setBrush(QColor(170, 220, 170));
    p.drawRoundedRect(QRectF(w * 0.22, h * 0.13, w * 0.16, h * 0.12), 3, 3);
    p.setPen(QColor(20, 60, 20));
    QFont digits(QStringLiteral("Monospace"));
    digits.setStyleHint(QFont::TypeWriter);
    digits.setPixelSize(qMax(8, int(h * 0.09)));
    p.setFont(digits);
    p.drawText(QRectF(w * 0.22, h * 0.13, w * 0.16, h * 0.12), Qt::AlignCenter, QStringLiteral("12.5"));

    // The product name beside it.
    QFont title = p.font();
    title.setFamily(QStringLiteral("Sans Serif"));
    title.setStyleHint(QFont::SansSerif);
    title.setBold(true);
    title.setPixelSize(qMax(10, int(h * 0.26)));
    p.setFont(title);
    p.setPen(QColor(40, 84, 130));
    p.drawText(QRectF(w * 0.58, h * 0.18, w * 0.40, h * 0.40), Qt::AlignLeft | Qt::AlignVCenter,
               QString::fromUtf8(Console::ProductName));
    QFont sub = title;
    sub.setBold(false);
    sub.setPixelSize(qMax(8, int(h * 0.10)));
    p.setFont(sub);
    p.setPen(QColor(90, 100, 112));
    p.drawText(QRectF(w * 0.58, h * 0.56, w * 0.40, h * 0.20), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Flowmeter service"));
    return picture;
}
