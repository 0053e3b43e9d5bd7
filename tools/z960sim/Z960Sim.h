// The simulated Z960 meter: the meter's side of the serial protocol on a
// pseudo-terminal, for end-to-end tests (in the same process) and for
// running the program without a meter (the z960sim executable).
//
// The simulator opens a pty master, keeps its own descriptor of the slave open
// (so the PC side may close and reopen the slave at will), and answers on its
// own thread. Its framing and checksums are its own code, independent of the
// link's, so a mistake on one side cannot hide the same mistake on the other.
//
// What it answers
// ---------------
// Quillmere frames: DLE STX address control payload CRC DLE ETX; every 0x10 in
// address, payload and CRC is followed by 0x90; CRC-16/KERMIT (low byte first)
// over the unstuffed address, control and payload. Modbus ASCII frames:
// ':' hex(address function data LRC) CR LF, either case of hex digits accepted,
// upper case sent. Modbus RTU frames are not answered.
//
// Requests (control 0x80, payload [command, arguments]) get a reply with
// control 0x81 and payload [status, command, data...]. Status 0x80 means done;
// status 0x00 means refused (unknown command, bad argument, or an access level
// too low), with no data after the echo.
//
//   0   ping                     [0x80, 0]
//   1   log date bounds [log]    first = meter clock - 30 days, last = meter clock (6 bytes each)
//   2   log file [name NUL]      [0x80, 2, 0,0,0,0, size (4, LE)], then the block transfer;
//                                the name may start with '\' or '/', matching is case-insensitive;
//                                an unknown name is refused (0x00), and an opening acknowledgement
//                                after a refusal is answered with the abort block 0x8D
//   4, 6, 8  configuration, calibration, basic calibration image as a file (332, 158, 222 bytes)
//   12  jump to boot code        acknowledged, nothing else happens
//   19  structure read [n]       [0x80, 19, image n]; n > 7 is refused
//   20  structure write [n, image]  n = 4, 5, 6 with exactly the image size; 5 needs access level 2,
//                                4 and 6 need level 3; anything else is refused and changes nothing
//   62  set ID [id]              the meter's Modbus address becomes id (level 2; 0, 16 and 248.. refused)
//   63, 64, 66, 70, 65           display +/-, modem power, coil current, totals update: acknowledged
//   68  channel [chan lo, hi, 4 bytes]  [0x80, 68, 0, float32 LE of status channel chan (0..21)]
//   69  state [s]                s = 0 stopped, 1 running, 2 calibration, 4 maintenance; others refused.
//                                State 4 sets the system image's maintenance byte (offset 121), others clear it
//   71, 73, 74  input, PNF, EC signal  [0x80, cmd, 0, float32 LE]: status flowVoltage (236),
//                                pnfSignal (268), ecSignal (256)
//   72  clear reset counter      status resetCount (offset 0) = 0
//   75  access level [level]     0..3 sets the level; above 3 refused
//   80  log index [type]         [0x80, 80, 0,0,0,0, size], then "index.txt" as a block transfer
//   81  embedded Modbus [address, function, ...]  [0x80, 81, address, function, n, n data bytes];
//                                an exception is [0x80, 81, address, function | 0x80, code]
//   99  back up calibration and configuration to the card: adds (or replaces) the system files
//                                "CONFIG.BIN", "CAL.BIN" and "BASICCAL.BIN" holding images 5, 4 and 6
//   100 real-time log [type, from 6, to 6]  the most recently added file of that type (an empty
//                                file when there is none), like command 2
//   101 clear one log [log], 102 clear all logs   level 3; the meter then reboots: reset count + 1,
//                                last power-up = now, access level 0, state running. Files on the
//                                card are not touched (they are copies).
//   103 back up logs to the card acknowledged; the card already holds every file
//   any other command            refused
//
// Modbus functions, the same plainly in ASCII and carried in command 81:
//   3   read holding registers (count 1..125); the reply data is the byte count and the registers
//   65  set clock [yy mm dd hh mi ss]  (level 2) the clock offset follows; an invalid date is exception 3
//   67  zero totals [mask hi, lo]       (level 2) bit k zeroes total k in the status order
//                                       (forward, reverse, nett, peak fwd, off-peak fwd, peak rev,
//                                       off-peak rev, ytd nett, ytd rev, ytd fwd); 0xFFFF zeroes all
//   68  comms access [code hi, lo]      code = pwdC0 gives level 1, pwdC1 level 2, pwdC2 level 3 (the
//                                       highest when codes repeat); any other code logs out (level 0)
//   Normal replies of 65/67/68 carry n = 2 and the value written (the date for 65: n = 6).
//   Exceptions: 1 unknown function or access level too low, 2 register outside the map, 3 bad
//   count or value. A plain ASCII frame is answered only when its LRC (over the address sent) is right.
// Holding registers: 1 up-time days and 2 up-time hours (meter clock minus the system image's last
// power-up, 0 when that is invalid), 56..58 the serial number backwards (56 = sn[5]<<8 | sn[4],
// 57 = sn[3]<<8 | sn[2], 58 = sn[1]<<8 | sn[0]), 88 the access level, 116..155 ten groups of four:
// the status totals as float32 (high half first) in the report's order (forward, reverse, nett, peak
// fwd, off-peak fwd, peak rev, off-peak rev, ytd fwd, ytd rev, ytd nett), the group's last two
// registers 0. setRegister() overrides any of these (or adds a register) until clearRegisters().
//
// Addressing: the meter answers the Quillmere and Modbus frames addressed to Options::address
// (kAnyAddress answers every address); replies carry the request's address. Frames with a bad
// CRC/LRC or for another address are recorded and not answered.
//
// Clock: the meter clock is the PC's local time plus clockOffset() seconds; every read of
// structure 0 stores it in the status image's dateTime (offset 2, bytes 0..5).
//
// Defaults: address 1, access level 0 (log in, or setAccessLevel(), before writes), state 1
// (running), meter ID 960123, site ID 4711, serial number 00 1A 2B 3C 4D 5E, firmware "102.4",
// front-panel codes 1111/2222/3333, comms codes 1234/2345/3456, last power-up 12 days 5 hours
// before start, no files. Reserved bytes of every image (and bytes 6..9 of each timestamp) hold
// the pattern 0x5A + 3 * offset, so a PC that does not send them back unchanged shows it.
//
// Block transfer (commands 2, 4, 6, 8, 80, 100)
// ---------------------------------------------
// The meter sends nothing until the PC's opening acknowledgement 0x8B (empty payload). Then it sends
// `window` frames per acknowledgement (window 1 at first): data blocks of Options::blockSize bytes
// (the last one shorter), then the end block 0x97 (empty). An empty file is the end block alone.
// Data blocks alternate 0x91, 0x93, 0x91, ...; Options::blockCodes can make them all 0x88, all 0x91
// or all 0x93 instead.
// Acknowledgements: an ack with payload [w] (windowed) acknowledges everything sent and sets the
// window to w (1..16). An ack with payload [1, lo, hi] (a re-sent windowed ack) says lo | hi<<8 bytes
// arrived since the last ack: the meter resumes at the first block not covered, one block at a time
// until the next windowed ack. An empty ack acknowledges the outstanding block when its code fits
// (0x92 for 0x91, 0x94 for 0x93, 0x90 for 0x88, 0x8B for 0x87/0x8F, 0x96 for 0x89/0x95); an empty
// ack with another code is taken as a re-sent ack, and the outstanding block is sent again.
// 0x8E from the PC ends the transfer. Without any ack for Options::resendTimeoutMs (scaled) the
// meter sends the outstanding block again when its window is 1; with a larger window it waits for
// the PC's re-sent ack (a blind re-send could duplicate data the PC already wrote). After
// Options::maxResends silent periods in a row it sends the abort block 0x8D and gives up. With
// Options::resendOnlyWhenAsked it does neither: it sends again only when the PC repeats an ack,
// and otherwise waits for as long as it takes.
// Nothing is expected after the end block, but a re-sent ack still gets it again until the next
// request. A new request ends a running transfer. Acks outside a transfer are ignored.
//
// An acknowledgement the meter never heard (IgnoreAck) changes nothing until the next one it hears,
// which the meter answers by its value: kSendAgain (the default) sends again from its last
// acknowledged offset whatever that ack says (a re-sent windowed ack [1, lo, hi] counts from there;
// any other ack gets the outstanding blocks again, one at a time); kGoOn takes it for the one it
// missed: what that one acknowledged counts as acknowledged, then the ack heard applies as usual,
// so the meter goes on where the PC expects it.
//
// The log index ("index.txt") of type t is the header line "Name" and one line per file of that
// type, in the order they were added, each ending CR LF. File types: 0 Log, 1 System,
// 2 Diagnostic, 6 Alarm.
//
// Fault injection
// ---------------
// Set before the exchange with inject(); each Injection matches events and fires on the
// occurrence-th matching event and the times-1 after it (times 0: every one from occurrence on).
// Events: a request (block == 0), a frame of a transfer (block >= 1 or kAnyBlock; data blocks count
// from 1, the end block is number blocks + 1), or an acknowledgement (IgnoreAck: block = the ack's
// number in the transfer, the opening ack is 1; 0 or kAnyBlock: any). Several injections may fire
// on one event. A refused (Exception) request is not acted on; a request whose reply is lost
// (Silence, Truncate, ...) still is, as on a real line. With `transfer` set, an injection
// matches only the events of one request and its transfer: {BadCrc, 2, kAny, 3, 1, 1, -1, 2}
// spoils block 3 of the second file request only, whatever the first one did.
//
// Thread safety: every public member may be called from any thread while the simulator runs.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace z960sim {

using Bytes = std::vector<uint8_t>;

constexpr int kAnyAddress = -1;
constexpr int kAny = -1;          // any command, function or block
constexpr int kAnyBlock = -1;
constexpr int kModbusAscii = 0x100; // Injection::command for plain Modbus ASCII requests

// Structure sizes, by structure number 0..7.
constexpr std::array<size_t, 8> kImageSizes = {351, 941, 82, 46, 158, 332, 222, 69};

// Log file types as the index request carries them.
enum FileType : uint8_t { LogFile = 0, SystemFile = 1, DiagnosticFile = 2, AlarmFile = 6 };

// The control codes of the data blocks a transfer sends.
enum class BlockCodes {
    Alternating, // 0x91, 0x93, 0x91, ...
    All0x88,
    All0x91,
    All0x93,
};

struct Options {
    int address = 1;              // Modbus address answered; kAnyAddress answers all
    bool paced = false;           // send at the line rate (about 1.04 ms a byte at 9600 baud)
    int baudRate = 9600;          // for pacing: 10 bits a byte
    double timeScale = 1.0;       // multiplies the simulator's own delays and time-outs
    int turnaroundMs = 0;         // pause before every reply (scaled)
    size_t blockSize = 512;       // data bytes per transfer block (1..1000)
    int resendTimeoutMs = 8000;   // transfer: silence before the meter sends again (scaled)
    int maxResends = 3;           // transfer: silent periods before the meter aborts
    bool resendOnlyWhenAsked = false; // transfer: no re-send and no abort of its own on silence
    BlockCodes blockCodes = BlockCodes::Alternating; // the codes of the data blocks
    bool enforceAccess = true;    // refuse writes below their access level
    int accessLevel = 0;          // level at start
};

enum class Fault {
    // A reply (block == 0) or a transfer frame (block set):
    BadCrc,        // CRC (or LRC) wrong
    Truncate,      // only the first `value` bytes of the wire image (default: half)
    Silence,       // not sent at all (a block: dropped, the meter thinks it was sent)
    Delay,         // sent `value` ms late (scaled)
    Garbage,       // `value` noise bytes (default 8) sent first; never 0x10, the colon or the address
    Oversize,      // payload padded with `value` bytes (default 1100 for a block, 1020 for a reply)
    ShortPayload,  // payload cut to `value` bytes, frame otherwise valid
    LostStart,     // the opening DLE STX never arrive, the rest of the frame does (a block: the
                   // meter thinks it was sent)
    // Replies only:
    WrongEcho,     // echoed command (Modbus: function) replaced by `value` (default command ^ 0x40)
    WrongAddress,  // reply address replaced by `value` (default address + 1)
    Exception,     // Modbus: exception reply with code `value` (default 2); Quillmere: status `value`
                   // (default 0x00) and no data after the echo
    // Transfers only:
    AbortTransfer, // the abort block 0x8D in place of block k; the transfer ends
    StallTransfer, // from block k the meter sends nothing more; the transfer is abandoned
    DuplicateBlock,// block k sent twice
    IgnoreAck,     // acknowledgement number k is dropped unread; `value` kSendAgain or kGoOn (above)
    BlockBeforeOpen, // the first block goes out right after the request's reply, before the opening ack
    BlockCode,     // frame k sent with control code `value` in place of its own
    ExtraFrame,    // an extra frame with control `value` and an empty payload sent before frame k
    GrowWhileSent, // the reply to a file request (2, 100): the file grows by `value` bytes (default
                   // 100 of log lines) after its size was announced; the transfer and later requests
                   // send the longer file
};

// What the meter does after an acknowledgement it never heard (the value of IgnoreAck).
constexpr int kSendAgain = 0;
constexpr int kGoOn = 1;

struct Injection {
    Fault fault;
    int command = kAny;   // Quillmere command (the transfer's command for block faults), kModbusAscii, kAny
    int function = kAny;  // Modbus function for command 81 and kModbusAscii
    int block = 0;        // 0: the reply to the request; >= 1 or kAnyBlock: a transfer frame
    int occurrence = 1;   // the first matching event that fires (1-based)
    int times = 1;        // how many matching events fire from there on (0: all)
    int value = -1;       // the fault's parameter; -1 takes its default
    int transfer = kAny;  // only in the transfer of this request for `command` (1-based, counted
                          // from when the injection was set); occurrences count within it
};

// One frame as the simulator saw it on the line.
struct Frame {
    enum Kind { Quillmere, ModbusAscii, Broken } kind = Broken;
    bool fromPc = true;   // received (true) or sent by the simulator (false)
    bool valid = false;   // CRC/LRC right
    uint8_t address = 0;
    uint8_t control = 0;  // Quillmere control byte (0 for Modbus)
    Bytes payload;        // Quillmere: unstuffed payload; Modbus: function, data (LRC removed)
    Bytes raw;            // the bytes on the wire
    std::chrono::steady_clock::time_point time;
};

struct FileEntry {
    std::string name;
    Bytes data;
    uint8_t type = LogFile;
};

class Simulator {
public:
    explicit Simulator(Options options = {});  // opens the pty and starts; throws std::runtime_error
    ~Simulator();                               // stops
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    std::string slavePath() const;
    void stop();  // joins the thread; idempotent

    // Images 0..7 (a set of the wrong size throws std::invalid_argument).
    Bytes image(int n) const;
    void setImage(int n, const Bytes &bytes);
    void patchImage(int n, size_t offset, const Bytes &bytes);  // throws std::out_of_range
    // With the live clock (the default) every read of structure 0 first stores the meter
    // clock in its dateTime; off, the status image goes out exactly as set.
    void setLiveClock(bool live);

    // Holding registers as the meter would answer them now.
    uint16_t readRegister(uint16_t reg, bool *exists = nullptr) const;
    void setRegister(uint16_t reg, uint16_t value);
    void clearRegisters();

    // Files on the card; adding a name that exists replaces it.
    void addFile(const std::string &name, const Bytes &data, uint8_t type = LogFile);
    bool removeFile(const std::string &name);
    std::vector<FileEntry> files() const;
    Bytes indexFile(uint8_t type) const;

    int clockOffset() const;             // meter clock minus PC clock, seconds
    void setClockOffset(int seconds);
    int accessLevel() const;
    void setAccessLevel(int level);
    int meterState() const;
    int address() const;

    void inject(const Injection &injection);
    void clearInjections();

    // The recorder.
    std::vector<Frame> received() const;  // frames from the PC, in order
    std::vector<Frame> sent() const;      // frames the simulator sent, in order
    size_t receivedCount() const;
    bool waitForFrames(size_t count, std::chrono::milliseconds timeout) const;  // count received in all
    bool waitForIdle(std::chrono::milliseconds timeout) const;  // nothing scheduled to send
    void clearRecord();

    // The default images the simulator starts with.
    static Bytes defaultImage(int n);

    struct Impl;

private:
    std::unique_ptr<Impl> d;
};

// Framing helpers of the simulator (its own, for tests that build frames by hand).
uint16_t crcKermit(const uint8_t *data, size_t n, uint16_t crc = 0);
uint8_t lrc(const uint8_t *data, size_t n);
Bytes quillmereFrame(uint8_t address, uint8_t control, const Bytes &payload);
Bytes asciiFrame(uint8_t address, const Bytes &functionAndData);

}  // namespace z960sim
