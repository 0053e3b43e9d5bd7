// Z960Port: the component through which the program talks to one flowmeter.
//
// It owns the serial component of the opened port, three timers, the receive
// buffer and the one frame record, the state of a file transfer and the
// in-memory images of the meter's structures. Everything runs on the GUI
// thread; waits run the event loop (LinkWait), so timer ticks, received
// bytes and clicks are handled while an operation waits for its reply.
//
// Internal faults never raise: they are reported as "file:Z960Port line: N"
// through OnPortDebugEvent (numbers in Z960Fault below).
#pragma once

#include "link/DeviceTime.h"
#include "link/LinkClock.h"
#include "link/Z960Data.h"
#include "link/Z960Frames.h"
#include "link/Z960Transport.h"

#include <QObject>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QTimer;
class TSerComm;
class TSerConfigDialog;

// Fault text event: Sender is the link, Data "file:Z960Port line: N".
using TPortDebugEvent = std::function<void(QObject *Sender, std::string Data)>;
// File progress: expected size, bytes received, bytes at the last acknowledgement.
using TDownLoadEvent = std::function<void(QObject *Sender, int size, int downloaded, int temp)>;
// Link activity (one byte sent, one delivery of received bytes).
using TNotifyEvent = std::function<void(QObject *Sender)>; // the same type as the serial component's

// The fault numbers after " line: " and what raises each.
namespace Z960Fault {
constexpr unsigned short RtuCrc = 308;               // RTU frame ended by silence failed its check
constexpr unsigned short QuillmereCrc = 416;         // Quillmere frame failed its CRC
constexpr unsigned short QuillmereDle = 421;         // DLE inside a frame not followed by ETX or 0x90
constexpr unsigned short AsciiCheck = 459;           // Modbus ASCII frame failed its check
constexpr unsigned short RxState = 477;              // unknown receive state
constexpr unsigned short CrcEmpty = 559;             // CRC asked for over 0 bytes
constexpr unsigned short AsciiParseState = 878;      // ASCII receiver parse state out of range
constexpr unsigned short AsciiTxState = 1035;        // ASCII transmitter state unknown
constexpr unsigned short QuillmereTxState = 1261;    // Quillmere transmitter state unknown
constexpr unsigned short RtuFunction = 1349;         // RTU reply with an unknown function
constexpr unsigned short RtuParseState = 1403;       // RTU receiver parse state out of range
constexpr unsigned short RtuTxIndex = 1443;          // RTU transmitter index out of range
constexpr unsigned short PcControlCode = 1572;       // frame with a control code only the PC sends
constexpr unsigned short UnknownControlCode = 1577;  // frame with an unused or unknown control code
constexpr unsigned short TransferTimeout = 1586;     // file-transfer timer tick
constexpr unsigned short TransferFrameError = 1620;  // transfer step while a frame error is pending
constexpr unsigned short UnknownBlockCode = 1689;    // block code the meter does not send
constexpr unsigned short NoAckForBlock = 1728;       // no acknowledgement defined for a block
constexpr unsigned short LocalFileOpen = 2634;       // local file cannot be opened for writing
constexpr unsigned short EmbeddedFunction = 2690;    // embedded Modbus function not supported
constexpr unsigned short EmbeddedReply = 2710;       // embedded reply with a foreign function
} // namespace Z960Fault

class Z960Port : public QObject {
public:
    // Receive states.
    enum : unsigned char {
        RX_IDLE = 0,
        RX_DLE = 1,
        RX_QUILLMERE = 2,
        RX_QUILLMERE_DLE = 3,
        RX_ASCII = 11,
        RX_ASCII_CR = 12,
        RX_RTU = 21,
    };

    static constexpr const char *kSourceName = "Z960Port";
    // Receive countdowns in ticks of the 10 ms receive timer.
    static constexpr short kRtuSilenceTicks = 10;    // an RTU frame ends after ~100 ms of silence
    static constexpr short kStalledFrameTicks = 1500; // a stalled partial frame is dropped after ~15 s
    // Timer intervals in (link) milliseconds.
    static constexpr int kRxTimeoutMs = 10;
    static constexpr int kFileTransferTimeoutMs = 7000;
    static constexpr int kCommsTimeoutMs = 1000;
    // Longest a flush keeps purging while bytes keep arriving.
    static constexpr unsigned kFlushLimitMs = 250;

    // Creates the link for the meter at modbusAddress; opens and sends nothing.
    Z960Port(QObject *owner, unsigned short modbusAddress);
    ~Z960Port() override;
    Z960Port(const Z960Port &) = delete;
    Z960Port &operator=(const Z960Port &) = delete;

    // ---- members, in their declared order --------------------------------
    bool abortFlag = false;
    TSerComm *comm = nullptr;                 // the serial component; null until OpenPort
    TSerConfigDialog *configDialog = nullptr; // created only for port number 0

    TPortDebugEvent OnPortDebugEvent;
    TDownLoadEvent OnDownLoadEvent;
    TNotifyEvent OnRxEvent;
    TNotifyEvent OnTxEvent;

    unsigned char rxBuffer[Z960Frames::kRxBufferSize] = {};
    unsigned short rxLength = 0;
    bool rxIsRtu = false;
    short rxCountdown = 0;
    unsigned char rxState = RX_IDLE;

    bool transferComplete = false;
    bool transferAbort = false;
    bool windowedAck = false;
    bool frameError = false;
    std::int32_t windowCounter = 0;

    QTimer *rxTimeoutTimer = nullptr;
    QTimer *fileTransferTimer = nullptr;
    QTimer *commsTimer = nullptr;
    std::int32_t commsCountdown = 0;

    unsigned short modbusAddress = 0;
    bool portOpen = false;
    // Why the last OpenPort failed, in the serial component's own words
    // (for example "Can't open specified device /dev/ttyUSB0 (Error 16,
    // Device or resource busy)"); empty after an open that succeeded. The
    // caller decides whether and how to show it.
    std::string openFailure;
    // The last OpenPort was refused because the user may not use the device.
    bool openDenied = false;
    // The device path the last failed OpenPort tried (the port map's), for
    // telling what would let the user open it.
    std::string openDevice;
    unsigned char asciiState = 0;
    unsigned char txState = 0;
    sFrame frame = {};

    std::FILE *transferFile = nullptr;
    std::uint32_t expectedSize = 0;
    std::int32_t bytesReceived = 0;
    std::uint32_t bytesAtLastAck = 0;
    unsigned char lastAckCode = 0;

    unsigned short txCrc = 0;
    unsigned short rxCrc = 0;

    // The meter's data mirror: clock of the last status read and the images.
    double deviceDateTime = 0.0;
    std::int32_t clockOffset = 0;
    bool clockValid = false; // the last status read carried a valid meter clock
    Z960Data::sStatus statusImage;
    Z960Data::sSystem systemImage;
    Z960Data::sStructure2 structure2Image;
    Z960Data::sStructure3 structure3Image;
    Z960Data::sCal calImage;
    Z960Data::sConfig configImage;
    Z960Data::sBasicCal basicCalImage;
    Z960Data::sStructure7 structure7Image;

    // The RTU transmitter's index and CRC, shared by all links (one RTU
    // frame is emitted at a time in the program).
    static unsigned char rtuTxIndex;
    static unsigned short rtuTxCrc;

    // ---- port set-up and byte I/O -----------------------------------------
    // Opens "Com" + N (N = 0: the port settings dialog chooses) at 9600 8N1
    // without flow control. A text whose remainder is no integer throws the
    // conversion error before anything is created; any other failure returns
    // false with portOpen false and its reason in openFailure.
    bool OpenPort(const std::string &portName, long baudRate);
    // Puts a byte channel in place of the serial component (not owned);
    // nullptr detaches it. Tests use it to run the link without a port.
    void attachTransport(Z960Transport *transport);
    Z960Transport *transport() const { return transport_; }

    void FlushOutBuffer();
    void FlushInBuffer();
    void FlushCommsBuffers();
    // Waits ms milliseconds of link time in the event loop.
    void DelayTicks(unsigned long ms);
    // Pump, 1 ms in the event loop, pump: the pause between two bytes that
    // are sent one by one.
    void ProcessCommunications();
    // Sends one byte (queued for the write thread) and fires OnTxEvent.
    void PutChar(unsigned char c);
    unsigned char GetChar();
    // Fires OnPortDebugEvent with "file:" + file + " line: " + line.
    void showFault(const char *file, unsigned short line);
    // Ends the retries of the command that runs (its current try still
    // waits for its reply or time-out).
    void abortCommand();
    // Ends the link's work for good, ahead of its release: every wait of the
    // link ends at once, whatever it waits for (a reply, the pause between
    // tries, the opening of a transfer), and nothing new is sent from then
    // on. The one frame still sent is the PC's abort, where the meter may
    // have a transfer ready: a transfer under way, or a request for a file
    // or the file list, answered or not. No failed file list is reported.
    void stop();
    bool stopped() const { return stopped_; }
    // Lets the work under way finish, but within ms link milliseconds: from
    // now on no operation makes more than one try, and every wait ends when
    // the time is up at the latest (a transfer then ends with the abort).
    // Once the time is up requests still go out, but none is waited for.
    // A second call can only shorten the time; stop() ends it at once.
    void windDown(unsigned long ms);
    bool windingDown() const { return windDownTimer_ != nullptr; }

    // Frees the link now, or, while one of its waits runs, once the
    // outermost wait has returned (the deletion is then posted).
    void release();
    bool isBusy() const { return busyCount_ > 0; }

    // ---- checksums, codec and frame helpers ------------------------------
    static void updateCcittCrc(unsigned short *crc, unsigned char b);
    // CRC-16/KERMIT over count bytes from init; a count of 0 is a fault and returns init.
    unsigned short blockCalcCcittCrc(const unsigned char *data, unsigned short init, unsigned short count);
    static void updateCrc16(bool start, unsigned char b, unsigned short *crc);
    // CRC-16/MODBUS over the frame record (address, function, exception code or data).
    unsigned short blockCalcCrc16() const;
    // LRC over our address, the function and the exception code or the data.
    unsigned char blockCalcLrc() const;
    static void binToHex(unsigned char b, unsigned char *out);
    static void hexToBin(const unsigned char *in, unsigned char *out);
    static void breakUnsignedInt16(unsigned short v, unsigned char *out);
    static void breakFloat32(float v, unsigned char *out);
    void resetRxTxFrame(bool full);

    // Each call emits the next byte of the frame in the frame record; call
    // until TX_DONE is set in frame.status.
    void frameTransmitterAscii();
    void frameTransmitterQuillmere();
    void frameTransmitterRtu();

    // ---- receive path ----------------------------------------------------
    // OnRxChar handler: reads Count bytes and feeds the state machine.
    void rxInterruptTask(QObject *Sender, int Count);
    static bool isValidCommand(unsigned char f);
    void rxTimeoutTimerEvent(QObject *Sender);
    bool frameReceiverQuillmere(const unsigned char *buf, unsigned short count);
    bool frameReceiverAscii(const unsigned char *buf, unsigned short count);
    bool frameReceiverRtu(const unsigned char *buf, unsigned short count);

    // ---- dispatch of received Quillmere frames and file transfer -----------
    bool processQuillmereComms();
    bool receiveFile(unsigned char blockCode, bool resend);
    void fileTransferTimeoutTimerEvent(QObject *Sender);
    void commsTimeoutTimerEvent(QObject *Sender);

    // ---- transactions and the command set ----------------------------------
    // Buffers passed to these operations hold `capacity` bytes (1024 unless
    // given); a reply that does not fit fails without being copied.
    static constexpr std::size_t kCommandBufferSize = 1024;
    using TDateTime = Z960Data::TDateTime;

    bool sendQuillmereFrame(unsigned char command, unsigned char *buf, unsigned short *len,
                            unsigned short timeoutSeconds, std::size_t capacity = kCommandBufferSize);
    bool readRegisters(unsigned short start, unsigned short count, unsigned char *buf, unsigned short *len,
                       unsigned short timeoutSeconds, std::size_t capacity = kCommandBufferSize);
    bool writeSingleRegister(unsigned short reg, unsigned short value, unsigned char *buf, unsigned short *len,
                             unsigned short timeoutSeconds, std::size_t capacity = kCommandBufferSize);
    bool writeRegisters(unsigned short start, unsigned short count, unsigned char *buf, unsigned short *len,
                        unsigned short timeoutSeconds, std::size_t capacity = kCommandBufferSize);
    bool readRegistersRTU(unsigned short start, unsigned short count, unsigned char *buf, unsigned short *len,
                          unsigned short timeoutSeconds, std::size_t capacity = kCommandBufferSize);
    bool writeSingleRegisterRTU(unsigned short reg, unsigned short value, unsigned char *buf, unsigned short *len,
                                unsigned short timeoutSeconds, std::size_t capacity = kCommandBufferSize);
    bool writeRegistersRTU(unsigned short start, unsigned short count, unsigned char *buf, unsigned short *len,
                           unsigned short timeoutSeconds, std::size_t capacity = kCommandBufferSize);
    bool sendEmbeddedFrame(unsigned char address, unsigned char function, unsigned short start, unsigned short count,
                           unsigned char *buf, unsigned short *len, unsigned short timeoutSeconds,
                           std::size_t capacity = kCommandBufferSize);

    bool sendNullCommand();
    bool GetDateTimeBounds(unsigned char log, Z960Data::sTimestamp *first, Z960Data::sTimestamp *last);
    bool jumpToBootCode();
    bool setID(unsigned char id);
    bool sendLcdPlusCommand();
    bool sendLcdMinusCommand();
    bool sendTotalsUpdateCommand(const unsigned char *data, unsigned short len);
    bool setModemPower(unsigned char v);
    bool readChannel(unsigned short channel, float *value);
    bool setState(unsigned char state);
    bool setCoilCurrent(unsigned char a, unsigned short b);
    bool readInputSignal(float *value);
    bool readPNFSignal(float *value);
    bool readECSignal(float *value);
    bool setAccessLevel(unsigned char level);
    bool ClearDataFlashLog(unsigned char log);
    bool ClearAllDataFlashLogs();
    bool backupLogsToSdcard();
    bool sendSimpleCommand(unsigned char command);
    bool setDateTime(TDateTime dateTime, bool usePcClock);
    bool setTime(TDateTime dateTime, unsigned char *buf, unsigned short *len, unsigned short timeoutSeconds,
                 Z960Data::ProtocolType protocol, std::size_t capacity = kCommandBufferSize);
    bool resetTotalisers(unsigned short value, unsigned char *buf, unsigned short *len, unsigned short timeoutSeconds,
                         Z960Data::ProtocolType protocol, std::size_t capacity = kCommandBufferSize);
    bool setCommsAccess(unsigned short value, unsigned char *buf, unsigned short *len, unsigned short timeoutSeconds,
                        Z960Data::ProtocolType protocol, std::size_t capacity = kCommandBufferSize);
    // The access-level operations return the new level, 0 on failure.
    unsigned short getCommsAccessLevel();
    unsigned short loggin(unsigned short code);
    unsigned short logout();
    bool verifySerialNumber();

    // ---- file transfer ---------------------------------------------------------
    // One transfer into path: true only when its end block arrived.
    bool getFile(const char *path);
    // The downloads below fetch their file again, whole, while a fetch is in
    // doubt (a repeated acknowledgement, a frame lost or spoiled, a block
    // alike the one before it, a size other than the known one).
    //
    // Log files, logs by time and the images have a known size (announced by
    // the meter, or the image's own) and are fetched at most three times. A
    // fetch stands alone when nothing put it in doubt and it brought exactly
    // that size; a short fetch never stands. Otherwise two fetches must bear
    // each other out, and not where the line gave both doubt at the same
    // place: two at their size alike, or a fetch that begins with the bytes
    // of an earlier one. A fetch longer than announced (a log the meter
    // appended to while sending) stands when a later fetch begins with its
    // bytes and the meter then announced just their size; path, which holds
    // the later fetch, is cut back to that size. A fetch that breaks off
    // (11 s without a block, or its request unanswered) is followed by one
    // abort and counts as one of the three; a stop or the meter's own abort
    // ends the download at once.
    //
    // The file list has no known size: it is fetched at most twice, and
    // stands once a fetch has no doubt, or two fetches bring the same bytes,
    // or a fetch whose only doubt is alike blocks begins with the bytes of an
    // earlier one that hold those blocks (a list that grew in between).
    //
    // path holds the last fetch (cut back where an earlier one stood within
    // it), whatever the outcome.
    bool getLogFile(const char *name, const char *localPath, bool windowedAck);
    bool getLogFileIndex(const char *localPath, unsigned char logType, bool unused = false);
    bool getRTLogFile(const char *unused, const char *localPath, bool windowedAck, unsigned char logType,
                      const Z960Data::sTimestamp *from, const Z960Data::sTimestamp *to);
    bool getConfigFile(const std::string &path);
    bool getCalFile(const std::string &path);
    bool getBasicCalFile(const std::string &path);
    // Ends the transfer under way: its wait returns at once and the meter is
    // told with the PC's abort (in place of the next acknowledgement, or on
    // its own when none is due); a request already answered is not opened.
    void abortFileTransfer();
    // The download under way: the number of the fetch that runs (1 for the
    // first) and the most it makes; 0 of 0 while none runs.
    struct FetchCount {
        int number = 0;
        int of = 0;
    };
    FetchCount fetchUnderWay() const { return fetchCount_; }

    // ---- structure transfer and the meter clock -------------------------------
    bool getStucture(unsigned char n);
    bool putStucture(unsigned char n);
    // Derives deviceDateTime, clockOffset and clockValid from the status image.
    void loadStatusValues();
    static void decodeTDateTime(TDateTime value, Z960Data::Timestamp *out) { Z960Data::decodeTDateTime(value, out); }
    static void encodeTDateTime(const Z960Data::Timestamp &record, TDateTime *out) { Z960Data::encodeTDateTime(record, out); }
    static void encodeTTime(const Z960Data::Timestamp &record, TDateTime *out) { Z960Data::encodeTTime(record, out); }
    static bool IsValidTimestamp(const Z960Data::Timestamp &record) { return Z960Data::IsValidTimestamp(record); }
    static bool IsLeapYear(int year) { return Z960Data::IsLeapYear(year); }
    static int DaysPerMonth(int year, int month) { return Z960Data::DaysPerMonth(year, month); }
    static void decodeTimestamp(const unsigned char *raw, Z960Data::Timestamp *out) { Z960Data::decodeTimestamp(raw, out); }
    static void encodeTimestamp(const Z960Data::Timestamp *record, unsigned char *raw) { Z960Data::encodeTimestamp(record, raw); }

private:
    // Counts the waits running inside the link so that release() never
    // frees it under one of them.
    class BusyGuard {
    public:
        explicit BusyGuard(Z960Port &port);
        ~BusyGuard();
        BusyGuard(const BusyGuard &) = delete;
        BusyGuard &operator=(const BusyGuard &) = delete;

    private:
        Z960Port &port_;
    };

    void fault(unsigned short line) { showFault(kSourceName, line); }
    // Keeps the serial component's text for a failed open (openFailure, openDenied).
    void noteOpenFailure(const std::string &text);
    // A released or stopped link starts nothing new.
    bool refusesWork() const { return releasePending_ || stopped_; }
    // Stopped, or the time a wind-down gave is up: every wait ends.
    bool outOfTime() const;
    // Runs the event loop until done() holds or ms link milliseconds have
    // passed, and ends at once when the link runs out of time; true when
    // done() held. Every wait of the link goes through here.
    bool waitFor(const std::function<bool()> &done, LinkClock::Tick ms);
    // Link milliseconds a wind-down has left.
    LinkClock::Tick windDownLeft() const;
    // The tries an operation of n tries makes now: one once the link winds down.
    int triesNow(int n) const { return windingDown() || stopped_ ? 1 : n; }

    // ---- transaction helpers (Z960Commands.cpp, Z960Structures.cpp) ----
    // Waits for the Quillmere reply to command and copies its payload.
    bool waitQuillmereReply(unsigned char command, unsigned char *buf, unsigned short *len,
                            unsigned short timeoutSeconds, std::size_t capacity);
    // One Modbus exchange in the frame record: data holds count request
    // bytes after the function; wire is MODBUS_ASCII or MODBUS_RTU (any
    // other value sends nothing and waits out the time-out).
    bool modbusRequest(Z960Data::ProtocolType wire, bool pumpEachByte, unsigned char function,
                       const unsigned char *data, unsigned short count, unsigned char *buf, unsigned short *len,
                       unsigned short timeoutSeconds, std::size_t capacity);
    bool waitModbusReply(unsigned char function, unsigned char *buf, unsigned short *len,
                         unsigned short timeoutSeconds, std::size_t capacity);
    // setTime, resetTotalisers and setCommsAccess: one value by protocol.
    bool modbusValueCommand(unsigned char function, const unsigned char *data, unsigned short count,
                            unsigned char *buf, unsigned short *len, unsigned short timeoutSeconds,
                            Z960Data::ProtocolType protocol, std::size_t capacity);
    // One command of the set: clears abortFlag, sends [command, args] once
    // and succeeds only for a reply whose status byte says done. The reply
    // payload goes to reply (kCommandBufferSize bytes) when one is given.
    bool runCommand(unsigned char command, const unsigned char *args, unsigned short argLen,
                    unsigned short timeoutSeconds, unsigned char *reply = nullptr,
                    unsigned short *replyLen = nullptr);
    // Pings the meter first (after a full frame reset), then runCommand.
    bool pingThenCommand(unsigned char command, const unsigned char *args, unsigned short argLen,
                         unsigned short timeoutSeconds);
    // The float32 in reply bytes 3 to 6 of a command.
    bool readFloatCommand(unsigned char command, const unsigned char *args, unsigned short argLen, float *value);
    // Sends an access code (function 68, embedded) and reads the level back.
    unsigned short sendAccessCode(unsigned short code);
    // Copies a structure reply over image n; false for a refused or short reply.
    bool storeStructure(unsigned char n, const unsigned char *reply, unsigned short len);
    static void pumpMessages();
    bool flushWhile(int (Z960Transport::*pending)(), void (Z960Transport::*purge)(), unsigned pauseMs);
    void rxByte(unsigned char c);
    void rxStore(unsigned char c);
    void startFrame();
    void rxQuillmereEnd();
    void rxAsciiEnd();
    void armRxTimeout();
    void clearFrameRecord();
    void startTransmitter(bool resetStateFromFF);

    // ---- file transfer (Z960FileTransfer.cpp) ----
    // Where the link stands with a transfer: blocks are only taken once the
    // opening acknowledgement has gone out, and until getFile returns.
    enum class TransferPhase : unsigned char { Idle, Requested, Opening, Running };
    class TransferScope;
    // Sends one transfer frame (acknowledgement or abort) with the pause
    // before it; returns the code sent (an abort asked for meanwhile takes
    // the acknowledgement's place).
    unsigned char sendTransferFrame(unsigned char code, const unsigned char *payload, unsigned short len);
    // Sends the abort 0x8E at once, keeping the frame record as it was.
    void answerStrayBlock(unsigned char blockCode);
    // Appends the block in the frame record to the file; false on a write error.
    bool writeBlock();
    // Keeps the block just written, to tell one alike the one before it.
    void noteBlock(const unsigned char *data, std::uint32_t length);
    // Repeats the last acknowledgement (the transfer timer's re-send), with
    // the count of bytes received since it in windowed mode.
    void repeatLastAck();
    // Before the last acknowledgement is repeated: the meter sends nothing
    // until it has it, so a partial frame in the receiver (the rest of a
    // frame whose start was lost, read as the start of another framing)
    // is no block, and must not swallow the block that answers.
    void dropPartialFrame();
    // A frame was lost or spoiled on the line while a transfer runs: its
    // fetch is in doubt.
    void noteLineTrouble();
    // Flushes and closes the file; false when either failed.
    bool closeTransferFile();
    // The local file failed: abort to the meter, close the file, end the transfer.
    void failLocalFile();
    // Sends the PC's abort, which ends the meter's side of the transfer.
    void sendPcAbort();
    // How one fetch of a file ended: its request unanswered, its transfer
    // broken off (given up after 11 s without a block), ended for good (the
    // meter's abort, a stop, the local file failing), or the file received
    // whole (its end block came).
    enum class FetchEnd : unsigned char { NotAnswered, BrokeOff, Ended, Received };
    // One fetch as it ended, with the size known for its file (none for the file list).
    struct Fetched {
        FetchEnd end;
        std::optional<std::uint32_t> size;
    };
    // One fetch of the file list: the request (up to four tries), then its transfer.
    Fetched fetchIndexOnce(const char *localPath, unsigned char logType);
    // One fetch of a file: the request (command, args), then its transfer into
    // path. knownSize is the file's size where the request announces none.
    Fetched fetchFileOnce(unsigned char command, const unsigned char *args, unsigned short argLen,
                          unsigned short timeoutSeconds, bool windowed, const char *path,
                          std::optional<std::uint32_t> knownSize);
    // Runs fetchOnce until a fetch stands, at most `fetches` times; path
    // then holds it. Received when one stood. Otherwise the way the first
    // fetch ended when it did not come whole, else Ended. With fetchAgainWhenBroken,
    // a fetch that broke off or went unanswered counts as one of the fetches.
    FetchEnd fetchUntilItStands(const std::function<Fetched()> &fetchOnce, const char *path, int fetches,
                                bool fetchAgainWhenBroken);
    // Sends it when abortFileTransfer asked for it and it has not gone out yet.
    void abortIfAsked();
    // Fetches a file (request, then its transfer) until it stands.
    bool requestFile(unsigned char command, const unsigned char *args, unsigned short argLen,
                     unsigned short timeoutSeconds, bool windowed, const char *path,
                     std::optional<std::uint32_t> knownSize = std::nullopt);
    // getConfigFile and friends: the download replaces image (size bytes) when it has exactly that size.
    bool getImageFile(unsigned char command, const std::string &path, unsigned char *image, std::size_t size);

    TransferPhase transferPhase_ = TransferPhase::Idle;
    // The size the meter announced for the file being downloaded; none for
    // files whose request announces none (the index, the images).
    std::optional<std::uint32_t> announcedSize_;
    int transferStepDepth_ = 0; // transfer steps sending right now (a block arriving then is not taken)
    // What puts the fetch under way in doubt. Blocks carry no numbers, so a
    // block lost, doubled or sent again cannot be told for sure: a fetch in
    // doubt is fetched again, and stands only when another fetch bears it out.
    struct FetchDoubt {
        // Where in the file the line gave doubt (an acknowledgement repeated,
        // a frame lost or spoiled, an early end): the bytes received by then.
        std::vector<std::uint32_t> lineAt;
        bool alike = false;           // a block alike the one before it, perhaps that one sent twice
        std::uint32_t alikeEnd = 0;   // where the last such block ends in the file
        std::uint32_t largestBlock = 0;
        bool line() const { return !lineAt.empty(); }
        bool any() const { return line() || alike; }
    };
    FetchDoubt doubt_;
    // The line gave doubt at the bytes received so far.
    void doubtLine();
    bool gaveUp_ = false; // the transfer under way was given up after 11 s without a block
    FetchCount fetchCount_;
    std::vector<unsigned char> lastBlock_; // the bytes of the last block written
    bool downloadAborted_ = false; // abortFileTransfer during a download: no further fetch
    bool pcAbortPending_ = false; // abortFileTransfer: the meter is still to be told
    bool pcAbortSent_ = false;    // the PC's abort went out since the last request: never twice

    Z960Transport *transport_ = nullptr;
    std::unique_ptr<Z960Transport> serTransport_; // wraps comm once the port is set up
    int busyCount_ = 0;
    bool releasePending_ = false;
    bool stopped_ = false;
    QTimer *windDownTimer_ = nullptr; // wakes the waits when a wind-down's time is up
    LinkClock::Tick windDownStart_ = 0;
    LinkClock::Tick windDownMs_ = 0;
    int rxDepth_ = 0; // re-entry check of the receive handler (debug builds)
};
