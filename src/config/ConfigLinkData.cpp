#include "config/ConfigLinkData.h"

#include "link/DateTime.h"
#include "link/Z960Enums.h"

namespace Config {

namespace {

const QDateTime &epoch()
{
    static const QDateTime e(QDate(1899, 12, 30), QTime(0, 0), Qt::UTC);
    return e;
}

} // namespace

QStringList comboItems(Items items)
{
    using Z960Data::EnumList;
    EnumList list = EnumList::VolumeUnit;
    switch (items) {
    case Items::None: return {};
    case Items::VolumeUnit: list = EnumList::VolumeUnit; break;
    case Items::TimeUnit: list = EnumList::TimeUnit; break;
    case Items::FailSafeMode: list = EnumList::FailSafeMode; break;
    case Items::AlarmCause: list = EnumList::AlarmCause; break;
    case Items::DigitalOutType: list = EnumList::DigitalOutType; break;
    case Items::DigitalOutChannel: list = EnumList::DigitalOutChannel; break;
    case Items::AnalogOutMode: list = EnumList::AnalogOutMode; break;
    case Items::AnalogOutChannel: list = EnumList::AnalogOutChannel; break;
    case Items::FilterFrequency: list = EnumList::FilterFrequency; break;
    case Items::PipeUnits: list = EnumList::PipeUnits; break;
    }
    QStringList texts;
    for (const std::string &t : Z960Data::setupDialogItems(list))
        texts << QString::fromStdString(t);
    return texts;
}

QDateTime toPickerDateTime(double value) { return epoch().addMSecs(DateTime::toMilliseconds(value)); }

double fromPickerDateTime(const QDateTime &dateTime)
{
    return DateTime::fromMilliseconds(epoch().msecsTo(dateTime.toUTC()));
}

} // namespace Config
