// File transfer: the meter sends a file as a sequence of Quillmere blocks,
// which the link writes to a local file and acknowledges one by one (or
// every fourth block in windowed mode), guarded by two timers.
//
// Everything runs on the GUI thread inside getFile's wait: received blocks
// come through the receive handler, re-sends through the transfer timer.
// A block belongs to a transfer only while getFile runs; any other block is
// answered with the abort code, so a meter still sending after we gave up
// stops, and nothing of ours (file, timers, progress) is touched.
//
// Every block is written as it comes. A block lost on the line (bad CRC, or
// a frame start destroyed so that the frame never shows) is asked for again
// by repeating the last acknowledgement after 7 s without a block. Blocks
// carry no numbers, though, so what the meter sends then, or a block it sent
// twice, cannot be told from new data for sure: a fetch that the line left in
// doubt, that holds a block alike the one before it, or whose size is not the
// one known for the file, is fetched again, whole, and stands only when
// another fetch bears it out. A fetch that breaks off is fetched again too.
#include "link/Z960Port.h"

#include "link/LinkWait.h"
#include "platform/Prompter.h"
#include "serial/SerTypes.h"

#include <QString>
#include <QTimer>

#include <algorithm>

#include <chrono>
#include <cstring>
#include <limits>
#include <optional>
#include <thread>
#include <unistd.h>
#include <vector>


using namespace Z960Frames;

namespace {

// Block codes the meter sends.
namespace Block {
constexpr unsigned char First = 0x87;
constexpr unsigned char Data = 0x88;
constexpr unsigned char NoData = 0x89;
constexpr unsigned char MeterAbort = 0x8D;
constexpr unsigned char DataB = 0x8F;
constexpr unsigned char DataC = 0x91;
constexpr unsigned char DataD = 0x93;
constexpr unsigned char NoDataB = 0x95;
constexpr unsigned char End = 0x97;
} // namespace Block

// Acknowledgement codes the PC sends.
namespace Ack {
constexpr unsigned char Open = 0x8B;
constexpr unsigned char PcAbort = 0x8E;
constexpr unsigned char Plain = 0x90;
constexpr unsigned char WindowA = 0x92;
constexpr unsigned char WindowB = 0x94;
constexpr unsigned char NoData = 0x96;
} // namespace Ack

// Transfer commands.
namespace Cmd {
constexpr unsigned char LogFile = 2;
constexpr unsigned char ConfigFile = 4;
constexpr unsigned char CalFile = 6;
constexpr unsigned char BasicCalFile = 8;
constexpr unsigned char LogIndex = 80;
constexpr unsigned char RealTimeLog = 100;
} // namespace Cmd

constexpr std::int32_t kCommsTicks = 10;     // commsTimer ticks without a block before giving up
constexpr std::int32_t kWindowBlocks = 4;    // windowed mode: blocks per acknowledgement
constexpr unsigned long kAckPauseMs = 50;    // pause before every acknowledgement
constexpr unsigned long kIndexPauseMs = 100; // pause between the index request and the opening
constexpr int kIndexTries = 4;
constexpr int kFileFetches = 3;  // fetches of a file in doubt before it fails
constexpr int kIndexFetches = 2; // the same for the file list
constexpr int kEndPumps = 25;
constexpr std::size_t kMaxNameLength = 1022; // the name and its NUL fill a request at most
constexpr unsigned short kAnnouncingReplyLength = 10; // a reply that carries the file size in bytes 6 to 9

// The acknowledgement of each block code, outside and in windowed mode.
struct AckRule {
    unsigned char block, plain, windowed;
};
constexpr AckRule kAckRules[] = {
    {Block::First, Ack::Open, Ack::Open},       {Block::Data, Ack::Plain, Ack::WindowA},
    {Block::DataB, Ack::Open, Ack::Open},       {Block::DataC, Ack::WindowA, Ack::WindowA},
    {Block::DataD, Ack::WindowB, Ack::WindowB}, {Block::NoData, Ack::NoData, Ack::NoData},
    {Block::NoDataB, Ack::NoData, Ack::NoData},
};

const AckRule *ackRuleFor(unsigned char block)
{
    for (const AckRule &r : kAckRules)
        if (r.block == block)
            return &r;
    return nullptr;
}

// Sleeps ms milliseconds of link time without handling events.
void sleepMs(unsigned ms)
{
    std::this_thread::sleep_for(std::chrono::microseconds(static_cast<long long>(1000.0 * ms / LinkClock::speed())));
}

void pump() { LinkWait::pump(); }

void showText(const char *text) { Platform::showMessage(QString::fromLocal8Bit(text)); }

// Reads at most limit bytes of a downloaded file; false when it cannot be read.
bool readLocalFile(const char *path, std::vector<unsigned char> &bytes,
                   std::size_t limit = std::numeric_limits<std::size_t>::max())
{
    bytes.clear();
    std::FILE *file = std::fopen(path, "rb");
    if (file == nullptr)
        return false;
    unsigned char chunk[4096];
    std::size_t got = 0;
    while (bytes.size() < limit && (got = std::fread(chunk, 1, std::min(sizeof chunk, limit - bytes.size()), file)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    const bool readOk = std::ferror(file) == 0;
    std::fclose(file);
    return readOk;
}

// A fetch that was in doubt, as it came: its bytes, the size known for its
// file, and where its doubt lies.
struct FetchCopy {
    std::vector<unsigned char> bytes;
    std::optional<std::uint32_t> size;
    std::vector<std::uint32_t> lineAt; // where the line gave doubt
    std::uint32_t alikeEnd = 0;        // where its last block alike the one before it ends
    std::uint32_t largestBlock = 0;
    bool lineDoubt() const { return !lineAt.empty(); }
    bool isShort() const { return size && bytes.size() < *size; }
    bool atSize() const { return size && bytes.size() == *size; }
};

bool beginsWith(const std::vector<unsigned char> &bytes, const std::vector<unsigned char> &start)
{
    return bytes.size() >= start.size() && std::equal(start.begin(), start.end(), bytes.begin());
}

// Two fetches in which the line gave doubt at the same place may carry one
// fault alike (the same block lost or sent twice in each): they bear nothing
// out together.
bool independent(const FetchCopy &a, const FetchCopy &b)
{
    return std::none_of(a.lineAt.begin(), a.lineAt.end(), [&b](std::uint32_t at) {
        return std::find(b.lineAt.begin(), b.lineAt.end(), at) != b.lineAt.end();
    });
}

// The file list, which has no known size: a fetch in doubt stands when an
// earlier one brought the same bytes. When only its alike blocks put it in
// doubt, it also stands when it begins with the bytes of an earlier fetch (a
// list the meter appended to in between) and all its alike blocks, and a
// window after the last of them, lie within those bytes: a block sent twice
// shows as alike blocks, and a block lost without the line showing it is lost
// beside it, in the same window.
bool standsBeside(const FetchCopy &later, const std::vector<FetchCopy> &earlier)
{
    const std::uint64_t borneOutUpTo =
        static_cast<std::uint64_t>(later.alikeEnd) + static_cast<std::uint64_t>(kWindowBlocks) * later.largestBlock;
    for (const FetchCopy &e : earlier) {
        if (later.bytes == e.bytes)
            return true;
        const bool grown = later.bytes.size() > e.bytes.size() && beginsWith(later.bytes, e.bytes);
        if (!later.lineDoubt() && grown && borneOutUpTo <= e.bytes.size())
            return true;
    }
    return false;
}

// A file of known size, whose latest fetch is in doubt: how many of its bytes
// stand, borne out by an earlier fetch; none while nothing does. A short fetch
// never stands nor bears anything out (a block of it is lost). Two fetches
// bear each other out at the known size when both begin with the same bytes
// of that size. A fetch longer than its size is a log the meter appended to
// while sending, or one with a block in it twice: it stands when a later
// fetch begins with all its bytes and the meter, asked again, announced just
// as many. (Announced more, the longer fetch may lack a block that the later
// one lacks too, hidden by what was appended in between.)
std::optional<std::size_t> standingBytes(const FetchCopy &latest, const std::vector<FetchCopy> &earlier)
{
    std::optional<std::size_t> best;
    const auto stand = [&best](std::size_t n) { best = std::max(best.value_or(0), n); };
    if (latest.isShort())
        return best;
    for (const FetchCopy &e : earlier) {
        if (!e.size || e.isShort() || !independent(e, latest))
            continue;
        if (latest.atSize() && beginsWith(e.bytes, latest.bytes))
            stand(latest.bytes.size());
        if ((e.atSize() || e.bytes.size() == *latest.size) && beginsWith(latest.bytes, e.bytes))
            stand(e.bytes.size());
    }
    return best;
}

// Counts a transfer step for the duration of a scope.
class StepCount {
public:
    explicit StepCount(int &depth) : depth_(depth) { ++depth_; }
    ~StepCount() { --depth_; }
    StepCount(const StepCount &) = delete;
    StepCount &operator=(const StepCount &) = delete;

private:
    int &depth_;
};

} // namespace

// Sets the transfer phase for a scope; the link is idle again afterwards,
// however the scope is left. The outermost scope also ends the transfer:
// both timers stop (no stray re-send later) and the file is closed.
class Z960Port::TransferScope {
public:
    TransferScope(Z960Port &port, TransferPhase phase) : port_(port), ends_(phase != TransferPhase::Requested)
    {
        port_.transferPhase_ = phase;
    }
    ~TransferScope()
    {
        if (ends_) {
            port_.fileTransferTimer->stop();
            port_.commsTimer->stop();
            if (port_.transferFile != nullptr) {
                std::fclose(port_.transferFile);
                port_.transferFile = nullptr;
            }
        }
        port_.transferPhase_ = TransferPhase::Idle;
        port_.announcedSize_.reset();
        port_.pcAbortPending_ = false; // an abort is for the transfer it was asked in
    }
    TransferScope(const TransferScope &) = delete;
    TransferScope &operator=(const TransferScope &) = delete;

private:
    Z960Port &port_;
    bool ends_;
};

// ---- one transfer step -------------------------------------------------------

bool Z960Port::receiveFile(unsigned char blockCode, bool resend)
{
    const bool inStep = transferStepDepth_ > 0; // called while another step runs
    const bool opening = transferPhase_ == TransferPhase::Opening && !inStep;
    if (transferPhase_ != TransferPhase::Running && !opening) {
        // Until the opening acknowledgement is out a block is dropped: the
        // opening makes the meter send it again. Outside a transfer it gets the abort.
        if (!resend && transferPhase_ == TransferPhase::Idle)
            answerStrayBlock(blockCode);
        return false;
    }
    if (resend && inStep)
        return false; // the step that is running restarts the guard itself
    StepCount step(transferStepDepth_);

    fileTransferTimer->stop();
    if (OnDownLoadEvent)
        OnDownLoadEvent(this, static_cast<int>(expectedSize), bytesReceived, static_cast<int>(bytesAtLastAck));

    // A block that arrives while another step runs is taken as lost, like
    // one with a bad CRC: writing it would interleave our frames.
    if (inStep)
        frameError = true;
    if (frameError) {
        doubtLine();
        fileTransferTimer->start();
        fault(Z960Fault::TransferFrameError);
        return false;
    }

    if (resend) {
        repeatLastAck();
        return false;
    }

    switch (blockCode) {
    case Block::First:
    case Block::Data:
    case Block::DataB:
    case Block::DataC:
    case Block::DataD:
        // The opening acknowledges an empty block: whatever a frame received
        // meanwhile left in the record is not file data.
        if (!opening && !writeBlock()) {
            failLocalFile();
            return false;
        }
        break;
    case Block::NoData:
    case Block::NoDataB:
        break;
    case Block::MeterAbort:
        transferAbort = true;
        closeTransferFile();
        return true;
    case Block::End: {
        // Short of the announced size: a block was lost, or cut short. (A
        // longer file is in doubt too, as a log that the meter appended to
        // while sending or one with a block twice: the fetches settle it.)
        if (announcedSize_ && static_cast<std::uint32_t>(bytesReceived) < *announcedSize_)
            doubtLine();
        const bool closed = closeTransferFile();
        for (int i = 0; i < kEndPumps; ++i)
            pump();
        sleepMs(2);
        if (!closed) {
            failLocalFile(); // the last bytes never reached the disk
            return true;
        }
        transferComplete = true;
        return true;
    }
    default:
        doubtLine(); // a frame the transfer cannot take: what it carried is lost
        fault(Z960Fault::UnknownBlockCode);
        break;
    }

    resetRxTxFrame(true);
    unsigned char code = frame.control;
    if (const AckRule *rule = ackRuleFor(blockCode)) {
        code = windowedAck ? rule->windowed : rule->plain;
        if (blockCode == Block::First)
            windowCounter = 0;
        if (code == Ack::NoData)
            windowedAck = false; // no more windows in this transfer
    } else {
        fault(Z960Fault::NoAckForBlock);
    }

    fileTransferTimer->start();

    const unsigned char window[1] = {static_cast<unsigned char>(kWindowBlocks)};
    unsigned short payloadLength = 0;
    if (windowedAck && (code == Ack::WindowA || code == Ack::WindowB)) {
        if (windowCounter > 1) {
            --windowCounter;
            return false;
        }
        if (transferAbort) {
            code = Ack::PcAbort;
        } else {
            windowCounter = kWindowBlocks;
            payloadLength = 1;
            code = code == Ack::WindowA ? Ack::WindowB : Ack::WindowA;
        }
    } else if (!windowedAck && transferAbort) {
        code = Ack::PcAbort;
    }

    lastAckCode = sendTransferFrame(code, window, payloadLength);
    bytesAtLastAck = static_cast<std::uint32_t>(bytesReceived);
    return false;
}

void Z960Port::repeatLastAck()
{
    doubtLine();
    // Windowed, the meter goes on after the bytes counted here one block at
    // a time, until the next windowed acknowledgement: that block gets it at once.
    if (windowedAck)
        windowCounter = 0;
    dropPartialFrame();
    fileTransferTimer->start();
    const auto since = static_cast<std::uint32_t>(bytesReceived) - bytesAtLastAck;
    const unsigned char progress[3] = {1, static_cast<unsigned char>(since & 0xFF),
                                       static_cast<unsigned char>((since >> 8) & 0xFF)};
    sendTransferFrame(lastAckCode, progress, windowedAck ? 3 : 0);
}

void Z960Port::noteLineTrouble()
{
    if (transferPhase_ == TransferPhase::Opening || transferPhase_ == TransferPhase::Running)
        doubtLine();
}

void Z960Port::doubtLine()
{
    const auto at = static_cast<std::uint32_t>(bytesReceived);
    if (doubt_.lineAt.empty() || doubt_.lineAt.back() != at)
        doubt_.lineAt.push_back(at);
}

unsigned char Z960Port::sendTransferFrame(unsigned char code, const unsigned char *payload, unsigned short len)
{
    DelayTicks(kAckPauseMs);
    if (pcAbortPending_) {
        code = Ack::PcAbort; // asked for during the pause: no acknowledgement goes out any more
        len = 0;
    }
    if (code == Ack::PcAbort) {
        pcAbortPending_ = false;
        // Once is enough: a block that crossed the abort (taken while it goes
        // out, or after it) gets no second one.
        if (pcAbortSent_)
            return code;
        pcAbortSent_ = true;
    }
    // Keep the receiver's progress: a block may be on its way while we send.
    const unsigned char receiving = rxState;
    const bool receivingRtu = rxIsRtu;
    resetRxTxFrame(false);
    rxState = receiving;
    rxIsRtu = receivingRtu;

    sFrame out = frame;
    out.control = code;
    out.status = 0;
    out.index = 0;
    out.length = len;
    if (len > 0)
        std::memcpy(out.data, payload, len);
    unsigned char state = 0;
    unsigned short crc = 0;
    frame = out;
    txState = state;
    txCrc = crc;
    PutChar(DLE);
    while (!(frame.status & TX_DONE)) {
        out = frame;
        state = txState;
        crc = txCrc;
        pump();
        ProcessCommunications();
        // A frame received meanwhile has replaced the record: go on with ours.
        frame = out;
        txState = state;
        txCrc = crc;
        frameTransmitterQuillmere();
        sleepMs(1); // a plain sleep: after the last byte the meter's answer waits until the step is over
    }
    return code;
}

void Z960Port::answerStrayBlock(unsigned char blockCode)
{
    if (blockCode == Block::MeterAbort || pcAbortSent_)
        return; // the meter has given up already, or has our abort on its way
    pcAbortSent_ = true;
    // Sent whole, without pause or pumping, so that a transaction waiting
    // for its reply finds the frame record and the transmitter as they were.
    const sFrame kept = frame;
    const unsigned char keptState = txState;
    const unsigned short keptCrc = txCrc;
    frame = sFrame{};
    frame.control = Ack::PcAbort;
    txState = 0;
    PutChar(DLE);
    while (!(frame.status & TX_DONE))
        frameTransmitterQuillmere();
    frame = kept;
    txState = keptState;
    txCrc = keptCrc;
}

bool Z960Port::writeBlock()
{
    if (transferFile == nullptr || frame.length == 0)
        return true;
    const std::size_t length = std::min<std::size_t>(frame.length, kFrameDataSize);
    // Flushed at once: a full disk shows at the block that did not fit, and
    // the file holds every block taken so far whatever happens next.
    if (std::fwrite(frame.data, 1, length, transferFile) != length || std::fflush(transferFile) != 0)
        return false;
    bytesReceived += static_cast<std::int32_t>(length);
    noteBlock(frame.data, static_cast<std::uint32_t>(length));
    return true;
}

void Z960Port::noteBlock(const unsigned char *data, std::uint32_t length)
{
    // Alike the block before it, whatever the codes: it may be that block
    // sent twice, and only another fetch can tell.
    if (length == lastBlock_.size() && std::equal(data, data + length, lastBlock_.begin())) {
        doubt_.alike = true;
        doubt_.alikeEnd = static_cast<std::uint32_t>(bytesReceived);
    }
    lastBlock_.assign(data, data + length);
    doubt_.largestBlock = std::max(doubt_.largestBlock, length);
}

void Z960Port::dropPartialFrame()
{
    rxTimeoutTimer->stop();
    rxCountdown = 0;
    startFrame();
    rxState = RX_IDLE;
}

bool Z960Port::closeTransferFile()
{
    if (transferFile == nullptr)
        return true;
    const bool flushed = std::fflush(transferFile) == 0;
    const bool closed = std::fclose(transferFile) == 0;
    transferFile = nullptr;
    return flushed && closed;
}

void Z960Port::failLocalFile()
{
    closeTransferFile();
    transferAbort = true;
    transferComplete = false;
    fileTransferTimer->stop();
    sendPcAbort();
    bytesAtLastAck = static_cast<std::uint32_t>(bytesReceived);
}

void Z960Port::sendPcAbort() { lastAckCode = sendTransferFrame(Ack::PcAbort, nullptr, 0); }

void Z960Port::abortIfAsked()
{
    if (pcAbortPending_)
        sendPcAbort();
}

// ---- the two guard timers ------------------------------------------------------

void Z960Port::fileTransferTimeoutTimerEvent(QObject * /*Sender*/)
{
    fault(Z960Fault::TransferTimeout);
    // The last acknowledgement goes out again at the first expiry, whatever
    // was lost: a meter may send again only when asked, and the transfer is
    // given up before a second expiry could come.
    frameError = false;
    receiveFile(lastAckCode, true);
}

void Z960Port::commsTimeoutTimerEvent(QObject * /*Sender*/)
{
    if (commsCountdown-- <= 0) {
        gaveUp_ = gaveUp_ || !transferAbort; // given up, unless something else ended it first
        transferAbort = true;
    }
}

void Z960Port::abortFileTransfer()
{
    transferAbort = true;
    downloadAborted_ = true;
    // Told at once, not with the next acknowledgement: in windowed mode the
    // meter may be waiting for one and would go on with its window.
    if (transferPhase_ != TransferPhase::Idle)
        pcAbortPending_ = true;
}

// ---- the transfer ------------------------------------------------------------------

bool Z960Port::getFile(const char *path)
{
    // One transfer at a time: a second one from inside the first would
    // take over its file and its blocks.
    if (path == nullptr || (transferPhase_ != TransferPhase::Idle && transferPhase_ != TransferPhase::Requested))
        return false;
    BusyGuard busy(*this);
    if (pcAbortPending_ && transferPhase_ == TransferPhase::Requested) {
        sendPcAbort(); // aborted before the opening: the meter drops the file it has readied
        return false;
    }
    pcAbortPending_ = false;
    if (refusesWork())
        return false;
    transferComplete = false;
    transferAbort = false;
    gaveUp_ = false;
    frameError = false; // a CRC error of an earlier exchange must not refuse the opening
    resetRxTxFrame(true);
    bytesReceived = 0;
    bytesAtLastAck = 0;
    doubt_ = {};
    lastBlock_.clear();

    transferFile = std::fopen(path, "wb");
    if (transferFile == nullptr) {
        fault(Z960Fault::LocalFileOpen);
        return false;
    }
    TransferScope running(*this, TransferPhase::Opening);
    try {
        commsCountdown = kCommsTicks;
        commsTimer->start();
        receiveFile(Block::First, false); // the opening: an empty 0x8B
        transferPhase_ = TransferPhase::Running;
        // Blocks, acknowledgements and the two timers all run inside this wait.
        LinkWait::until([this] { return transferComplete || transferAbort; });
        // Asked for, or given up on a meter that may still be sending: it stops.
        if ((pcAbortPending_ || gaveUp_) && !transferComplete)
            sendPcAbort();
    } catch (const ESerCommError &e) {
        showText(e.what());
    }
    return transferComplete;
}

namespace {

// Leaves the download's fetch count at 0 of 0 however the download ends.
class FetchCountScope {
public:
    FetchCountScope(Z960Port::FetchCount &count, int of) : count_(count) { count_ = {0, of}; }
    ~FetchCountScope() { count_ = {}; }
    FetchCountScope(const FetchCountScope &) = delete;
    FetchCountScope &operator=(const FetchCountScope &) = delete;

private:
    Z960Port::FetchCount &count_;
};

// Cuts the file at path back to length bytes.
bool cutBack(const char *path, std::size_t length)
{
    return ::truncate(path, static_cast<off_t>(length)) == 0;
}

} // namespace

Z960Port::FetchEnd Z960Port::fetchUntilItStands(const std::function<Fetched()> &fetchOnce, const char *path,
                                                int fetches, bool fetchAgainWhenBroken)
{
    downloadAborted_ = false;
    FetchCountScope counting(fetchCount_, fetches);
    std::vector<FetchCopy> earlier;
    for (int n = 0; n < fetches; ++n) {
        if (n > 0 && (downloadAborted_ || refusesWork()))
            return FetchEnd::Ended; // stopped or aborted between two fetches
        fetchCount_.number = n + 1;
        const Fetched got = fetchOnce();
        if (got.end != FetchEnd::Received) {
            const bool broken = got.end == FetchEnd::BrokeOff || got.end == FetchEnd::NotAnswered;
            if (fetchAgainWhenBroken && broken && !downloadAborted_ && !refusesWork())
                continue; // one of the fetches; the meter was told to stop
            return n == 0 ? got.end : FetchEnd::Ended;
        }
        const bool atSize = got.size && static_cast<std::uint32_t>(bytesReceived) == *got.size;
        if (!doubt_.any() && (atSize || !got.size))
            return FetchEnd::Received; // no doubt: it stands alone
        FetchCopy copy;
        copy.size = got.size;
        copy.lineAt = doubt_.lineAt;
        copy.alikeEnd = doubt_.alikeEnd;
        copy.largestBlock = doubt_.largestBlock;
        if (!readLocalFile(path, copy.bytes))
            return FetchEnd::Ended;
        if (!got.size) {
            if (standsBeside(copy, earlier))
                return FetchEnd::Received;
        } else if (const std::optional<std::size_t> stands = standingBytes(copy, earlier)) {
            if (*stands == copy.bytes.size() || cutBack(path, *stands))
                return FetchEnd::Received;
            return FetchEnd::Ended;
        }
        earlier.push_back(std::move(copy));
    }
    return FetchEnd::Ended;
}

Z960Port::Fetched Z960Port::fetchFileOnce(unsigned char command, const unsigned char *args, unsigned short argLen,
                                          unsigned short timeoutSeconds, bool windowed, const char *path,
                                          std::optional<std::uint32_t> knownSize)
{
    resetRxTxFrame(true);
    windowedAck = windowed;
    unsigned char buf[kCommandBufferSize] = {};
    if (argLen > 0)
        std::memcpy(buf, args, argLen);
    unsigned short len = argLen;
    TransferScope requested(*this, TransferPhase::Requested);
    if (!sendQuillmereFrame(command, buf, &len, timeoutSeconds)) {
        // The reply may be what was lost, and the meter have readied the
        // file all the same: it drops it. (A request never sent needs nothing.)
        if (pcAbortPending_ || !refusesWork())
            sendPcAbort();
        return {downloadAborted_ || refusesWork() ? FetchEnd::Ended : FetchEnd::NotAnswered, knownSize};
    }
    if ((command == Cmd::LogFile || command == Cmd::RealTimeLog) && len >= kAnnouncingReplyLength)
        knownSize = expectedSize;
    announcedSize_ = knownSize;
    if (getFile(path))
        return {FetchEnd::Received, knownSize};
    return {gaveUp_ && !downloadAborted_ && !refusesWork() ? FetchEnd::BrokeOff : FetchEnd::Ended, knownSize};
}

bool Z960Port::requestFile(unsigned char command, const unsigned char *args, unsigned short argLen,
                           unsigned short timeoutSeconds, bool windowed, const char *path,
                           std::optional<std::uint32_t> knownSize)
{
    if (path == nullptr || argLen > kCommandBufferSize || transferPhase_ != TransferPhase::Idle)
        return false;
    const auto once = [&] { return fetchFileOnce(command, args, argLen, timeoutSeconds, windowed, path, knownSize); };
    return fetchUntilItStands(once, path, triesNow(kFileFetches), true) == FetchEnd::Received;
}

bool Z960Port::getLogFile(const char *name, const char *localPath, bool windowed)
{
    if (name == nullptr)
        return false;
    const std::size_t length = std::strlen(name);
    if (length > kMaxNameLength)
        return false; // the request could not carry it
    return requestFile(Cmd::LogFile, reinterpret_cast<const unsigned char *>(name),
                       static_cast<unsigned short>(length + 1), 120, windowed, localPath);
}

bool Z960Port::getRTLogFile(const char * /*unused*/, const char *localPath, bool windowed, unsigned char logType,
                            const Z960Data::sTimestamp *from, const Z960Data::sTimestamp *to)
{
    if (from == nullptr || to == nullptr)
        return false;
    constexpr std::size_t stamp = Z960Data::sTimestamp::kSize;
    unsigned char args[1 + 2 * stamp];
    args[0] = logType;
    from->copyTo(args + 1);
    to->copyTo(args + 1 + stamp);
    return requestFile(Cmd::RealTimeLog, args, sizeof args, 120, windowed, localPath);
}

Z960Port::Fetched Z960Port::fetchIndexOnce(const char *localPath, unsigned char logType)
{
    windowedAck = false;
    TransferScope requested(*this, TransferPhase::Requested);
    bool asked = false;
    for (int t = 0; t < triesNow(kIndexTries) && !asked && !stopped_; ++t) {
        FlushCommsBuffers();
        resetRxTxFrame(true);
        unsigned char buf[kCommandBufferSize] = {logType};
        unsigned short len = 1;
        asked = sendQuillmereFrame(Cmd::LogIndex, buf, &len, 5);
    }
    if (!asked) {
        abortIfAsked(); // stopped while waiting: the meter may have readied the list all the same
        return {FetchEnd::NotAnswered, std::nullopt};
    }
    DelayTicks(kIndexPauseMs);
    return {getFile(localPath) ? FetchEnd::Received : FetchEnd::Ended, std::nullopt};
}

bool Z960Port::getLogFileIndex(const char *localPath, unsigned char logType, bool /*unused*/)
{
    if (localPath == nullptr || transferPhase_ != TransferPhase::Idle)
        return false;
    try {
        const auto once = [&] { return fetchIndexOnce(localPath, logType); };
        const FetchEnd got = fetchUntilItStands(once, localPath, triesNow(kIndexFetches), false);
        if (got == FetchEnd::Received)
            return true;
        if (!stopped_) // a stop is no failure to report
            showText(got == FetchEnd::NotAnswered ? "getLogFileIndex failed" : "getFile failed");
    } catch (const ESerCommError &e) {
        showText(e.what());
    }
    return false;
}

bool Z960Port::getImageFile(unsigned char command, const std::string &path, unsigned char *image, std::size_t size)
{
    if (!requestFile(command, nullptr, 0, 2, false, path.c_str(), static_cast<std::uint32_t>(size)))
        return false;
    // The downloaded file stays on disk whatever it holds; the image takes
    // it only when it has exactly the image's size.
    std::vector<unsigned char> bytes;
    if (!readLocalFile(path.c_str(), bytes, size + 1) || bytes.size() != size)
        return false;
    std::memcpy(image, bytes.data(), size);
    return true;
}

bool Z960Port::getConfigFile(const std::string &path)
{
    return getImageFile(Cmd::ConfigFile, path, configImage.data(), configImage.size());
}

bool Z960Port::getCalFile(const std::string &path)
{
    return getImageFile(Cmd::CalFile, path, calImage.data(), calImage.size());
}

bool Z960Port::getBasicCalFile(const std::string &path)
{
    return getImageFile(Cmd::BasicCalFile, path, basicCalImage.data(), basicCalImage.size());
}
