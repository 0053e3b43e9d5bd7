// The three property groups of the serial component: flow control, special
// characters and buffers. Each write announces itself through OnChange; the
// owning component decides what a change does to an open port.
#pragma once

#include "serial/SerClasses.h"
#include "serial/SerTypes.h"

#include <cstdint>

class TSerFlowControl : public TSerPersistent {
public:
    bool OutCtsFlow() const { return FOutCtsFlow; }
    bool OutDsrFlow() const { return FOutDsrFlow; }
    TSerControlDtr ControlDtr() const { return FControlDtr; }
    TSerControlRts ControlRts() const { return FControlRts; }
    bool XonXoffOut() const { return FXonXoffOut; }
    bool XonXoffIn() const { return FXonXoffIn; }
    bool DsrSensitivity() const { return FDsrSensitivity; }
    bool TxContinueOnXoff() const { return FTxContinueOnXoff; }

    // Each write compares, stores and announces a change.
    void SetOutCtsFlow(bool v) { set(FOutCtsFlow, v); }
    void SetOutDsrFlow(bool v) { set(FOutDsrFlow, v); }
    void SetControlDtr(TSerControlDtr v) { set(FControlDtr, v); }
    void SetControlRts(TSerControlRts v) { set(FControlRts, v); }
    void SetXonXoffOut(bool v) { set(FXonXoffOut, v); }
    void SetXonXoffIn(bool v) { set(FXonXoffIn, v); }
    void SetDsrSensitivity(bool v) { set(FDsrSensitivity, v); }
    void SetTxContinueOnXoff(bool v) { set(FTxContinueOnXoff, v); }

    void Assign(const TSerPersistent *Source) override;
    const char *ClassName() const override { return "TSerFlowControl"; }

private:
    template <typename T>
    void set(T &field, T v)
    {
        if (field != v) {
            field = v;
            Changed();
        }
    }

    bool FOutCtsFlow = false;
    bool FOutDsrFlow = false;
    TSerControlDtr FControlDtr = dtrDisabled;
    TSerControlRts FControlRts = rtsDisabled;
    bool FXonXoffOut = false;
    bool FXonXoffIn = false;
    bool FDsrSensitivity = false;
    bool FTxContinueOnXoff = false;
};

class TSerEventChars : public TSerPersistent {
public:
    uint8_t XonChar() const { return FXonChar; }
    uint8_t XoffChar() const { return FXoffChar; }
    uint8_t ErrorChar() const { return FErrorChar; }
    uint8_t EventChar() const { return FEventChar; }
    uint8_t EofChar() const { return FEofChar; }

    // Each write stores the value and announces a change, even an unchanged one.
    void SetXonChar(uint8_t v) { set(FXonChar, v); }
    void SetXoffChar(uint8_t v) { set(FXoffChar, v); }
    void SetErrorChar(uint8_t v) { set(FErrorChar, v); }
    void SetEventChar(uint8_t v) { set(FEventChar, v); }
    void SetEofChar(uint8_t v) { set(FEofChar, v); }

    void Assign(const TSerPersistent *Source) override;
    const char *ClassName() const override { return "TSerEventChars"; }

private:
    void set(uint8_t &field, uint8_t v)
    {
        field = v;
        Changed();
    }

    uint8_t FXonChar = 17;
    uint8_t FXoffChar = 19;
    uint8_t FErrorChar = 0;
    uint8_t FEventChar = 0;
    uint8_t FEofChar = 0;
};

class TSerBuffers : public TSerPersistent {
public:
    TSerIntW ReadSize() const { return FReadSize; }
    TSerIntW WriteSize() const { return FWriteSize; }
    TSerIntW ReadTimeout() const { return FReadTimeout; }
    TSerIntW WriteTimeout() const { return FWriteTimeout; }
    TSerIntW XonLimit() const { return FXonLimit; }
    TSerIntW XoffLimit() const { return FXoffLimit; }

    // Sizes and limits compare, store and announce a change; the time-outs
    // are only stored. Negative values are taken as 0.
    void SetReadSize(TSerIntW v) { set(FReadSize, v); }
    void SetWriteSize(TSerIntW v) { set(FWriteSize, v); }
    void SetReadTimeout(TSerIntW v) { FReadTimeout = clamp(v); }
    void SetWriteTimeout(TSerIntW v) { FWriteTimeout = clamp(v); }
    void SetXonLimit(TSerIntW v) { set(FXonLimit, v); }
    void SetXoffLimit(TSerIntW v) { set(FXoffLimit, v); }

    void Assign(const TSerPersistent *Source) override;
    const char *ClassName() const override { return "TSerBuffers"; }

private:
    static TSerIntW clamp(TSerIntW v) { return v < 0 ? 0 : v; }
    void set(TSerIntW &field, TSerIntW v)
    {
        v = clamp(v);
        if (field != v) {
            field = v;
            Changed();
        }
    }

    TSerIntW FReadSize = 4096;
    TSerIntW FWriteSize = 2048;
    TSerIntW FReadTimeout = 1000;
    TSerIntW FWriteTimeout = 1000;
    TSerIntW FXonLimit = 1024;
    TSerIntW FXoffLimit = 1024;
};
