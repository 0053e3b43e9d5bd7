// File transfer steps and their two guard timers.
#include "link/Z960Port.h"

// Transfer steps are not built yet: a block is ignored (no acknowledgement).
bool Z960Port::receiveFile(unsigned char /*blockCode*/, bool /*resend*/) { return false; }

void Z960Port::fileTransferTimeoutTimerEvent(QObject * /*Sender*/)
{
    fault(Z960Fault::TransferTimeout);
    if (--windowCounter <= 0) {
        receiveFile(lastAckCode, true);
        frameError = false;
    }
}

void Z960Port::commsTimeoutTimerEvent(QObject * /*Sender*/)
{
    if (commsCountdown-- <= 0)
        transferAbort = true;
}

// Transfer operations are not built yet: each fails without sending.
bool Z960Port::getFile(const char * /*path*/) { return false; }
bool Z960Port::getLogFile(const char * /*name*/, const char * /*localPath*/, bool /*windowedAck*/) { return false; }
bool Z960Port::getLogFileIndex(const char * /*localPath*/, unsigned char /*logType*/, bool /*unused*/) { return false; }
bool Z960Port::getRTLogFile(const char * /*unused*/, const char * /*localPath*/, bool /*windowedAck*/,
                            unsigned char /*logType*/, const Z960Data::sTimestamp * /*from*/,
                            const Z960Data::sTimestamp * /*to*/)
{
    return false;
}
bool Z960Port::getConfigFile(const std::string & /*path*/) { return false; }
bool Z960Port::getCalFile(const std::string & /*path*/) { return false; }
bool Z960Port::getBasicCalFile(const std::string & /*path*/) { return false; }
void Z960Port::abortFileTransfer() { transferAbort = true; }
