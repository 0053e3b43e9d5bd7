// Structure transfer: reading a whole structure into its image (command 19)
// and writing images 4, 5 and 6 back to the meter (command 20).
#include "link/Z960Port.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

constexpr unsigned char kReadStructure = 19;
constexpr unsigned char kWriteStructure = 20;
constexpr unsigned char kStatusDone = 0x80;
constexpr int kStructureTries = 3;
constexpr unsigned short kReadTimeoutSeconds = 10;
constexpr unsigned short kWriteTimeoutSeconds = 3;
constexpr unsigned long kPauseAfterPingMs = 50;

// The bytes and size of image n; null for a number without a structure.
std::pair<std::uint8_t *, std::size_t> imageOf(Z960Port &port, unsigned char n)
{
    switch (n) {
    case Z960Data::STATUS: return {port.statusImage.data(), port.statusImage.size()};
    case Z960Data::SYSTEM: return {port.systemImage.data(), port.systemImage.size()};
    case Z960Data::STRUCTURE2: return {port.structure2Image.data(), port.structure2Image.size()};
    case Z960Data::STRUCTURE3: return {port.structure3Image.data(), port.structure3Image.size()};
    case Z960Data::CAL: return {port.calImage.data(), port.calImage.size()};
    case Z960Data::CONFIG: return {port.configImage.data(), port.configImage.size()};
    case Z960Data::BASIC_CAL: return {port.basicCalImage.data(), port.basicCalImage.size()};
    case Z960Data::STRUCTURE7: return {port.structure7Image.data(), port.structure7Image.size()};
    default: return {nullptr, 0};
    }
}

bool isWritable(unsigned char n) { return n == Z960Data::CAL || n == Z960Data::CONFIG || n == Z960Data::BASIC_CAL; }

} // namespace

bool Z960Port::storeStructure(unsigned char n, const unsigned char *reply, unsigned short len)
{
    // A refused read carries no structure: the image keeps what it had.
    if (len < 2 || reply[0] != kStatusDone)
        return false;
    const auto image = imageOf(*this, n);
    if (image.first == nullptr)
        return true; // no image of that number: accepted, nothing stored
    // A reply shorter than the structure would leave part of the image
    // invented; it spends the try instead. A longer one is cut.
    if (len < 2 + image.second)
        return false;
    std::memcpy(image.first, reply + 2, image.second);
    if (n == Z960Data::STATUS)
        loadStatusValues();
    return true;
}

bool Z960Port::getStucture(unsigned char n)
{
    abortFlag = false;
    if (refusesWork())
        return false;
    BusyGuard busy(*this);
    resetRxTxFrame(true);
    unsigned char buf[kCommandBufferSize] = {};
    try {
        FlushCommsBuffers();
        for (int t = 0; t < triesNow(kStructureTries); ++t) {
            resetRxTxFrame(true);
            std::fill(std::begin(buf), std::end(buf), 0);
            buf[0] = n;
            unsigned short len = 1;
            if (sendQuillmereFrame(kReadStructure, buf, &len, kReadTimeoutSeconds) && storeStructure(n, buf, len))
                return true;
        }
    } catch (...) {
        // The serial component gave up: the read failed, the image is as it was.
    }
    return false;
}

bool Z960Port::putStucture(unsigned char n)
{
    resetRxTxFrame(true);
    abortFlag = false;
    if (!isWritable(n) || refusesWork())
        return false; // nothing is pinged or sent
    BusyGuard busy(*this);
    const auto image = imageOf(*this, n);
    unsigned char buf[kCommandBufferSize] = {};
    for (int t = 0; t < triesNow(kStructureTries); ++t) {
        buf[0] = n;
        std::memcpy(buf + 1, image.first, image.second);
        auto len = static_cast<unsigned short>(image.second + 1);
        if (!sendNullCommand())
            continue; // a failed ping spends the try
        DelayTicks(kPauseAfterPingMs);
        // The meter must say it took the structure; a refusal is no write.
        if (sendQuillmereFrame(kWriteStructure, buf, &len, kWriteTimeoutSeconds) && buf[0] == kStatusDone)
            return true;
    }
    return false;
}
