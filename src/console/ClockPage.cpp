#include "console/ClockPage.h"

#include "console/DataPage.h"
#include "console/PageControls.h"
#include "console/PageHost.h"
#include "link/Z960Port.h"
#include "platform/FormControls.h"

#include <QDateEdit>
#include <QDateTime>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimeEdit>
#include <QVBoxLayout>

#include <cstdlib>

namespace {

constexpr int kSameClockSeconds = 1;  // up to this far off the meter shows the PC clock
constexpr int kRedClockSeconds = 60;  // from this far off the meter clock is red

QDateTime qtDateTime(DateTime::TDateTime value)
{
    const DateTime::Fields f = DateTime::decode(value).value_or(DateTime::Fields{});
    return QDateTime(QDate(f.year, f.month, f.day), QTime(f.hour, f.minute, f.second));
}

void setTextColour(QLabel *label, const QColor &colour)
{
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, colour);
    label->setPalette(p);
}

} // namespace

ClockPage::ClockPage(PageHost &host, DataPage *dataPage, QWidget *parent)
    : QWidget(parent), host_(host), dataPage_(dataPage)
{
    setObjectName(QStringLiteral("ClockPage"));
    SetClockRadioGroup = new TRadioGroup(
        QString(), {QStringLiteral("Synchronise with PC clock"), QStringLiteral("Set time manually")}, this);
    SetClockRadioGroup->setObjectName(QStringLiteral("SetClockRadioGroup"));
    SetClockRadioGroup->SetItemIndex(0);
    SetClockRadioGroup->OnClick = [this] { SetClockRadioGroupClick(SetClockRadioGroup); };

    SetClockPanel = new QFrame(this);
    SetClockPanel->setObjectName(QStringLiteral("SetClockPanel"));
    SetClockPanel->setFrameShape(QFrame::StyledPanel);
    SetClockDateLbl = new QLabel(QStringLiteral("Date"), SetClockPanel);
    SetClockDateLbl->setObjectName(QStringLiteral("SetClockDateLbl"));
    SetClockDatePicker = new QDateEdit(SetClockPanel);
    SetClockDatePicker->setObjectName(QStringLiteral("SetClockDatePicker"));
    SetClockDatePicker->setCalendarPopup(true);
    SetClockTimeLbl = new QLabel(QStringLiteral("Time"), SetClockPanel);
    SetClockTimeLbl->setObjectName(QStringLiteral("SetClockTimeLbl"));
    SetClockTimePicker = new QTimeEdit(SetClockPanel);
    SetClockTimePicker->setObjectName(QStringLiteral("SetClockTimePicker"));
    SetClockTimePicker->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    auto *panelLayout = new QGridLayout(SetClockPanel);
    panelLayout->addWidget(SetClockDateLbl, 0, 0);
    panelLayout->addWidget(SetClockDatePicker, 0, 1);
    panelLayout->addWidget(SetClockTimeLbl, 1, 0);
    panelLayout->addWidget(SetClockTimePicker, 1, 1);
    // Matches the preselected "Synchronise with PC clock".
    SetClockPanel->setEnabled(false);
    SetClockPanel->hide();

    UpdateTimeBtn = new QPushButton(QStringLiteral("Update Logger Clock"), this);
    UpdateTimeBtn->setObjectName(QStringLiteral("UpdateTimeBtn"));
    Platform::padButton(*UpdateTimeBtn);
    connect(UpdateTimeBtn, &QPushButton::clicked, this, [this] { UpdateTimeBtnClick(UpdateTimeBtn); });

    auto *layout = new QGridLayout(this);
    layout->addWidget(SetClockRadioGroup, 0, 0, Qt::AlignTop);
    layout->addWidget(SetClockPanel, 0, 1, Qt::AlignTop);
    layout->addWidget(UpdateTimeBtn, 1, 0, Qt::AlignLeft | Qt::AlignTop);
    layout->setVerticalSpacing(12); // the button stands clear of the choice above it
    layout->setRowStretch(2, 1);
    layout->setColumnStretch(2, 1);
    if (parent != nullptr && parent->layout() == nullptr) {
        auto *fill = new QVBoxLayout(parent);
        fill->setContentsMargins(0, 0, 0, 0);
        fill->addWidget(this);
    }
}

QString ClockPage::clockText(DateTime::TDateTime value, const QLocale &locale)
{
    // The long time format without the time zone, which the PC clock never shows.
    QString timeFormat = locale.timeFormat(QLocale::LongFormat);
    timeFormat.remove(QRegularExpression(QStringLiteral("\\s*\\bt+\\b")));
    const QDateTime dt = qtDateTime(value);
    return locale.toString(dt.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           locale.toString(dt.time(), timeFormat.trimmed());
}

void ClockPage::ClockTimerTimer()
{
    const DateTime::TDateTime now = DateTime::now();
    QLabel *pc = host_.pcClockText();
    QLabel *meter = host_.sensorClockText();
    const QString pcText = clockText(now);
    if (pc != nullptr && meter != nullptr) {
        pc->setText(pcText);
        const QColor normal = pc->palette().color(QPalette::WindowText);
        const Z960Port *port = host_.link();
        const long long offset = port != nullptr ? port->clockOffset : 0;
        const long long d = std::llabs(offset);
        if (port != nullptr && !port->clockValid && offset != 0) {
            // The meter reported no valid date: its offset means nothing.
            meter->setText(QString::fromLatin1(kInvalidClockText));
            setTextColour(meter, QColor(255, 0, 0));
        } else if (d <= kSameClockSeconds) {
            meter->setText(pcText);
            setTextColour(meter, normal);
        } else {
            setTextColour(meter, d >= kRedClockSeconds ? QColor(255, 0, 0) : normal);
            meter->setText(clockText(DateTime::addSeconds(now, offset)));
        }
    }
    if (dataPage_ != nullptr)
        dataPage_->RefreshFolderLists();
}

void ClockPage::SetClockRadioGroupClick(QObject *)
{
    if (SetClockRadioGroup->ItemIndex() == 1) {
        SetClockPanel->setEnabled(true);
        SetClockPanel->show();
        const QDateTime now = qtDateTime(DateTime::now());
        SetClockDatePicker->setDate(now.date());
        SetClockTimePicker->setTime(now.time());
    } else if (SetClockRadioGroup->ItemIndex() == 0) {
        SetClockPanel->setEnabled(false);
        SetClockPanel->hide();
    }
}

DateTime::TDateTime ClockPage::pickedDateTime() const
{
    const QDate d = SetClockDatePicker->date();
    const QTime t = SetClockTimePicker->time();
    return DateTime::encodeDate(d.year(), d.month(), d.day()).value_or(0.0) +
           DateTime::encodeTime(t.hour(), t.minute(), t.second(), 0).value_or(0.0);
}

void ClockPage::UpdateTimeBtnClick(QObject *)
{
    PageOperation op(host_);
    if (!op)
        return;
    const DateTime::TDateTime value = pickedDateTime();
    const bool usePcClock = SetClockRadioGroup->ItemIndex() == 0;
    // Each step runs only when the one before succeeded and the window still stands.
    const auto linkUp = [this] { return host_.link() != nullptr && !host_.closingDown(); };
    if (linkUp() && host_.link()->setAccessLevel(3) && linkUp() && host_.link()->setDateTime(value, usePcClock) &&
        linkUp())
        host_.link()->getStucture(Z960Data::STATUS);
    if (!host_.closingDown())
        host_.ShowMonitorPage();
}
