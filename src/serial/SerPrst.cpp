#include "serial/SerPrst.h"

#include <stdexcept>
#include <string>

void TSerPersistent::Assign(const TSerPersistent *Source)
{
    AssignError(Source);
}

void TSerPersistent::AssignError(const TSerPersistent *Source) const
{
    const std::string from = Source ? Source->ClassName() : "nil";
    throw std::invalid_argument("Cannot assign a " + from + " to a " + ClassName());
}

namespace {
// Runs the copy inside one update, ending it however the copy ends, so the
// owner hears exactly one change (whose handler may raise).
template <typename Fn>
void inOneUpdate(TSerPersistent &p, Fn copy)
{
    p.BeginUpdate();
    try {
        copy();
    } catch (...) {
        p.EndUpdate();
        throw;
    }
    p.EndUpdate();
}
} // namespace

void TSerFlowControl::Assign(const TSerPersistent *Source)
{
    const auto *src = dynamic_cast<const TSerFlowControl *>(Source);
    if (!src)
        return TSerPersistent::Assign(Source);
    inOneUpdate(*this, [&] {
        SetOutCtsFlow(src->OutCtsFlow());
        SetOutDsrFlow(src->OutDsrFlow());
        SetControlDtr(src->ControlDtr());
        SetControlRts(src->ControlRts());
        SetXonXoffOut(src->XonXoffOut());
        SetXonXoffIn(src->XonXoffIn());
        SetDsrSensitivity(src->DsrSensitivity());
        SetTxContinueOnXoff(src->TxContinueOnXoff());
    });
}

void TSerEventChars::Assign(const TSerPersistent *Source)
{
    const auto *src = dynamic_cast<const TSerEventChars *>(Source);
    if (!src)
        return TSerPersistent::Assign(Source);
    inOneUpdate(*this, [&] {
        SetXonChar(src->XonChar());
        SetXoffChar(src->XoffChar());
        SetErrorChar(src->ErrorChar());
        SetEventChar(src->EventChar());
        SetEofChar(src->EofChar());
    });
}

void TSerBuffers::Assign(const TSerPersistent *Source)
{
    const auto *src = dynamic_cast<const TSerBuffers *>(Source);
    if (!src)
        return TSerPersistent::Assign(Source);
    BeginUpdate();
    FReadSize = src->FReadSize;
    FWriteSize = src->FWriteSize;
    FReadTimeout = src->FReadTimeout;
    FWriteTimeout = src->FWriteTimeout;
    FXonLimit = src->FXonLimit;
    FXoffLimit = src->FXoffLimit;
    EndUpdate();
}
