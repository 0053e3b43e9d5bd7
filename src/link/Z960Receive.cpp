// The receive state machine and the three frame receivers.
#include "link/Z960Port.h"

#include <QTimer>

#include <algorithm>

using namespace Z960Frames;

namespace {

// Counts nesting of the receive handler; the serial component delivers
// bytes through a blocking dispatch, so the handler must never be re-entered.
class DepthCheck {
public:
    explicit DepthCheck(int &depth) : depth_(depth)
    {
        Q_ASSERT_X(depth_ == 0, "Z960Port::rxInterruptTask", "receive handler re-entered");
        ++depth_;
    }
    ~DepthCheck() { --depth_; }
    DepthCheck(const DepthCheck &) = delete;
    DepthCheck &operator=(const DepthCheck &) = delete;

private:
    int &depth_;
};

} // namespace

void Z960Port::rxInterruptTask(QObject * /*Sender*/, int Count)
{
    BusyGuard busy(*this);
    DepthCheck depth(rxDepth_);
    rxTimeoutTimer->stop();
    if (Count > 0 && OnRxEvent)
        OnRxEvent(this);
    for (int i = 0; i < Count; ++i) {
        rxByte(GetChar());
        if (rxLength >= kRxBufferSize)
            rxState = RX_IDLE; // longer than the buffer: dropped silently
    }
    armRxTimeout();
}

void Z960Port::armRxTimeout()
{
    if (rxState != RX_IDLE) {
        rxCountdown = rxIsRtu ? kRtuSilenceTicks : kStalledFrameTicks;
        rxTimeoutTimer->start();
    } else {
        rxCountdown = 0;
    }
}

void Z960Port::rxStore(unsigned char c)
{
    if (rxLength < kRxBufferSize)
        rxBuffer[rxLength++] = c;
}

// A DLE or colon frame begins: whatever RTU frame was open is over.
void Z960Port::startFrame()
{
    rxLength = 0;
    rxIsRtu = false;
}

void Z960Port::rxByte(unsigned char c)
{
    switch (rxState) {
    case RX_IDLE:
        if (c == DLE) {
            startFrame();
            rxState = RX_DLE;
        } else if (c == COLON) {
            startFrame();
            rxStore(c);
            rxState = RX_ASCII;
        } else if (c == modbusAddress && rxCountdown == 0) {
            rxLength = 0;
            rxStore(c);
            rxIsRtu = true;
            rxState = RX_RTU;
        }
        break;
    case RX_DLE:
        if (c == STX) {
            rxState = RX_QUILLMERE;
        } else if (modbusAddress == DLE && isValidCommand(c)) {
            // An RTU frame from our address 16. For any other address the
            // pair is noise (often the DLE ETX tail of a dropped frame) and
            // must not swallow the bytes that follow.
            rxLength = 0;
            rxStore(DLE);
            rxStore(c);
            rxIsRtu = true;
            rxState = RX_RTU;
        } else {
            rxState = RX_IDLE;
        }
        break;
    case RX_QUILLMERE:
        if (c == DLE)
            rxState = RX_QUILLMERE_DLE;
        else
            rxStore(c);
        break;
    case RX_QUILLMERE_DLE:
        if (c == ETX) {
            rxQuillmereEnd();
        } else if (c == DLE_STUFF) {
            rxStore(DLE);
            rxState = RX_QUILLMERE;
        } else {
            fault(Z960Fault::QuillmereDle);
            noteLineTrouble();
            rxState = RX_IDLE;
        }
        break;
    case RX_ASCII:
        if (c == CR) {
            rxStore(c);
            rxState = RX_ASCII_CR;
        } else if (rxLength == 1 && modbusAddress == COLON && isValidCommand(c)) {
            // An RTU frame from our address 58 (the colon's value). For any
            // other address this is an ASCII frame: the function codes 65,
            // 67, 68 and 69 are the characters A, C, D and E that begin the
            // addresses 160-175 and 192-239.
            rxLength = 0;
            rxStore(COLON);
            rxStore(c);
            rxIsRtu = true;
            rxState = RX_RTU;
        } else {
            rxStore(c);
        }
        break;
    case RX_ASCII_CR:
        if (c == LF) {
            rxStore(c);
            rxAsciiEnd();
        } else {
            rxState = RX_IDLE; // CR without LF: dropped without a fault
        }
        break;
    case RX_RTU:
        rxStore(c);
        break;
    default:
        fault(Z960Fault::RxState);
        rxState = RX_IDLE;
        break;
    }
}

void Z960Port::rxQuillmereEnd()
{
    rxState = RX_IDLE;
    if (frameReceiverQuillmere(rxBuffer, rxLength)) {
        processQuillmereComms();
    } else {
        frameError = true;
        fault(Z960Fault::QuillmereCrc);
        noteLineTrouble();
    }
}

void Z960Port::rxAsciiEnd()
{
    rxState = RX_IDLE;
    if (frameReceiverAscii(rxBuffer, rxLength))
        frame.frameReady = true;
    else
        fault(Z960Fault::AsciiCheck);
    // No Modbus frame comes during a transfer: this was the rest of a block
    // whose start was lost.
    noteLineTrouble();
}

void Z960Port::rxTimeoutTimerEvent(QObject * /*Sender*/)
{
    if (--rxCountdown > 0)
        return;
    rxCountdown = 0;
    rxTimeoutTimer->stop();
    if (rxIsRtu) {
        if (rxLength > 0 && rxBuffer[0] == modbusAddress) {
            if (frameReceiverRtu(rxBuffer, rxLength))
                frame.frameReady = true;
            else
                fault(Z960Fault::RtuCrc);
            noteLineTrouble(); // as for an ASCII frame
        }
        rxIsRtu = false; // a frame from another address is dropped silently
    }
    rxState = RX_IDLE; // a stalled Quillmere or ASCII frame is dropped without a fault
}

// ---- receivers ---------------------------------------------------------------

bool Z960Port::frameReceiverQuillmere(const unsigned char *buf, unsigned short count)
{
    if (count < 4)
        return false; // address, control and the two CRC bytes at least
    count = std::min<unsigned short>(count, kRxBufferSize);
    resetRxTxFrame(true);
    rxCrc = 0;
    frame.address = buf[0];
    updateCcittCrc(&rxCrc, buf[0]);
    frame.control = buf[1];
    updateCcittCrc(&rxCrc, buf[1]);
    frame.function = buf[3];
    std::copy(buf + 2, buf + count, frame.data);
    frame.index = static_cast<unsigned short>(count - 1);
    frame.length = static_cast<unsigned short>(count - 4);
    if (frame.length > 0)
        rxCrc = blockCalcCcittCrc(frame.data, rxCrc, frame.length);
    const unsigned received = frame.data[frame.length] | (frame.data[frame.length + 1] << 8);
    return received == rxCrc;
}

bool Z960Port::frameReceiverAscii(const unsigned char *buf, unsigned short count)
{
    resetRxTxFrame(false);
    asciiState = 1;
    bool result = false;
    bool exceptionReply = false;
    for (unsigned short i = 0; i < count; ++i) {
        const unsigned char c = buf[i];
        switch (asciiState) {
        case 1:
            if (c == COLON) {
                frame = sFrame{}; // the whole record, control included
                exceptionReply = false;
                asciiState = 2;
            }
            break;
        case 2:
        case 4:
            frame.hexPair[1] = c;
            ++asciiState;
            break;
        case 3:
            frame.hexPair[0] = c;
            hexToBin(frame.hexPair, &frame.address);
            asciiState = 4;
            break;
        case 5:
            frame.hexPair[0] = c;
            hexToBin(frame.hexPair, &frame.function);
            exceptionReply = (frame.function & 0x80) != 0;
            asciiState = 8;
            break;
        case 8:
            if (c == CR) {
                asciiState = 10;
            } else {
                frame.hexPair[1] = c;
                asciiState = 9;
            }
            break;
        case 9: {
            frame.hexPair[0] = c;
            unsigned char b = 0;
            hexToBin(frame.hexPair, &b);
            if (frame.index < kFrameDataSize) {
                if (exceptionReply && frame.index == 0)
                    frame.exceptionCode = b;
                frame.data[frame.index++] = b;
            }
            asciiState = 8;
            break;
        }
        case 10:
            // The last byte before CR is the LRC.
            if (c == LF && frame.index >= 1 && frame.index <= 256) {
                frame.length = static_cast<unsigned short>(frame.index - 1);
                result = blockCalcLrc() == frame.data[frame.length];
            } else {
                result = false;
            }
            asciiState = 1;
            break;
        default:
            fault(Z960Fault::AsciiParseState);
            asciiState = 1;
            break;
        }
    }
    return result;
}

bool Z960Port::frameReceiverRtu(const unsigned char *buf, unsigned short count)
{
    resetRxTxFrame(false);
    asciiState = 1;
    bool result = false;
    if (count == 0)
        return false;
    unsigned short crc = 0;
    for (unsigned short i = 0; i < count; ++i) {
        const unsigned char c = buf[i];
        switch (asciiState) {
        case 1:
            frame.address = c;
            updateCrc16(true, c, &crc);
            frame.index = 0;
            asciiState = 2;
            break;
        case 2: {
            frame.function = c;
            updateCrc16(false, c, &crc);
            frame.exceptionCode = 0;
            if (c & 0x80) {
                // Exception reply: the code, then the CRC. The stored length
                // counts the CRC low byte, as for every other reply.
                frame.length = 1;
                frame.byteCountFollows = false;
                asciiState = 3;
                break;
            }
            struct Shape { unsigned char function; unsigned short length; bool byteCount; };
            static constexpr Shape shapes[] = {
                {3, 6, true}, {6, 5, false}, {16, 7, true}, {65, 8, true},
                {67, 4, true}, {68, 4, true}, {69, 3, false},
            };
            const Shape *shape = nullptr;
            for (const Shape &s : shapes)
                if (s.function == c)
                    shape = &s;
            frame.length = shape ? shape->length : 0;
            frame.byteCountFollows = shape && shape->byteCount;
            if (!shape)
                fault(Z960Fault::RtuFunction);
            asciiState = frame.byteCountFollows ? 3 : 4;
            break;
        }
        case 3:
            updateCrc16(false, c, &crc);
            if (frame.function & 0x80)
                frame.exceptionCode = c;
            else
                frame.length = static_cast<unsigned short>(c + 1);
            asciiState = 4;
            break;
        case 4:
            if (frame.index < kFrameDataSize)
                frame.data[frame.index] = c;
            ++frame.index;
            if (frame.index == frame.length) {
                // This byte and the next, low byte first, against the CRC so far.
                if (i + 1 < count && (c | (buf[i + 1] << 8)) == crc) {
                    result = true;
                    ++i; // the CRC high byte belongs to this frame
                }
                asciiState = 1;
            } else if (frame.index >= kFrameDataSize) {
                asciiState = 1; // no reply is this long: start over
            }
            updateCrc16(false, c, &crc);
            break;
        default:
            fault(Z960Fault::RtuParseState);
            asciiState = 1;
            break;
        }
    }
    return result;
}

// ---- dispatch of received Quillmere frames -------------------------------------

bool Z960Port::processQuillmereComms()
{
    const unsigned char control = frame.control;
    switch (control) {
    case CONTROL_REPLY:
        // Replies to a file request announce the file size in payload bytes 6 to 9.
        if ((frame.function == 2 || frame.function == 100) && frame.length >= 10)
            expectedSize = static_cast<std::uint32_t>(frame.data[6]) | (static_cast<std::uint32_t>(frame.data[7]) << 8)
                           | (static_cast<std::uint32_t>(frame.data[8]) << 16)
                           | (static_cast<std::uint32_t>(frame.data[9]) << 24);
        frame.frameReady = true;
        break;
    case 0x87: case 0x88: case 0x89: case 0x8D: case 0x8F: case 0x91: case 0x93: case 0x95: case 0x97:
        commsCountdown = 10;
        receiveFile(control, false);
        break;
    case 0x8A: case 0x8B: case 0x8C: case 0x8E: case 0x90: case 0x92: case 0x94: case 0x96:
        fault(Z960Fault::PcControlCode);
        break;
    default:
        fault(Z960Fault::UnknownControlCode);
        break;
    }
    return true;
}
