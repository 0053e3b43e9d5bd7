#include "serial/SerTypes.h"

#include "platform/CommApi.h"

std::string SerFormat(const std::string &format, std::initializer_list<long long> numbers,
                      std::initializer_list<std::string> texts)
{
    std::string out;
    auto number = numbers.begin();
    auto text = texts.begin();
    for (size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        const char next = i + 1 < format.size() ? format[i + 1] : '\0';
        if (c == '%' && next == 'd' && number != numbers.end()) {
            out += std::to_string(*number++);
            ++i;
        } else if (c == '%' && next == 's' && text != texts.end()) {
            out += *text++;
            ++i;
        } else if (c == '%' && next == '%') {
            out += '%';
            ++i;
        } else {
            out += c;
        }
    }
    return out;
}

namespace SerTables {

const uint32_t BaudRates[SerBaudrateCount] = {0,     110,   300,   600,   1200,   2400,   4800,   9600,
                                              14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};

const char *const BaudRateTexts[SerBaudrateCount] = {"user",  "110",   "300",   "600",   "1200",   "2400",
                                                     "4800",  "9600",  "14400", "19200", "38400",  "56000",
                                                     "57600", "115200", "128000", "256000"};

const uint8_t ByteSizes[5] = {4, 5, 6, 7, 8};

const uint32_t OptionFlags[3] = {Platform::DCB::fErrorChar, Platform::DCB::fNull, Platform::DCB::fParity};

const uint32_t EventMaskBits[SerCommEventCount] = {
    Platform::EV_BREAK,  Platform::EV_CTS,     Platform::EV_DSR,     Platform::EV_ERR,
    Platform::EV_RING,   Platform::EV_RLSD,    Platform::EV_RXCHAR,  Platform::EV_TXEMPTY,
    Platform::EV_RXFLAG, Platform::EV_PERR,    Platform::EV_RX80FULL, Platform::EV_EVENT1,
    Platform::EV_EVENT2};

} // namespace SerTables
