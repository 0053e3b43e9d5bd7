// The Clock page and the top panel's two clocks.
//
// Every second the PC clock is shown beside the meter clock, which is the PC
// clock moved by the offset the link measured at the last status read: the
// same text within a second, red from a minute off, and "Invalid" when the
// meter's last reported clock was no valid date. The page sets the meter
// clock from the PC clock or from a date and time the technician enters.
#pragma once

#include "link/DateTime.h"

#include <QLocale>
#include <QString>
#include <QWidget>

class DataPage;
class PageHost;
class QDateEdit;
class QFrame;
class QLabel;
class QPushButton;
class QTimeEdit;
class TRadioGroup;

class ClockPage : public QWidget {
    Q_OBJECT
public:
    // dataPage (may be null) gets the clock's once-a-second folder look.
    ClockPage(PageHost &host, DataPage *dataPage, QWidget *parent = nullptr);

    // The one-second tick: both clock texts, then the Data page's folder lists.
    void ClockTimerTimer();
    void SetClockRadioGroupClick(QObject *Sender);
    // Level 3, then the clock (PC or entered), then a status read; the status
    // page is shown whatever the outcome.
    void UpdateTimeBtnClick(QObject *Sender);

    // The value the pickers hold: whole days of the date plus the time of day.
    DateTime::TDateTime pickedDateTime() const;

    // The program's date-and-time text: short date, a blank, long time.
    static QString clockText(DateTime::TDateTime value, const QLocale &locale = QLocale());
    static constexpr const char *kInvalidClockText = "Invalid";

    TRadioGroup *SetClockRadioGroup;
    QFrame *SetClockPanel;
    QLabel *SetClockDateLbl;
    QDateEdit *SetClockDatePicker;
    QLabel *SetClockTimeLbl;
    QTimeEdit *SetClockTimePicker;
    QPushButton *UpdateTimeBtn;

private:
    PageHost &host_;
    DataPage *dataPage_;
};
