#include "platform/SaveSteps.h"

#include <unistd.h>

namespace Platform {

namespace {

SyncCall &syncCall()
{
    static SyncCall call = nullptr;
    return call;
}

SaveStepCall &saveStepCall()
{
    static SaveStepCall call = nullptr;
    return call;
}

} // namespace

void setSyncCall(SyncCall call) { syncCall() = call; }

void setSaveStepCall(SaveStepCall call) { saveStepCall() = call; }

int syncFile(int fd) { return syncCall() ? syncCall()(fd) : ::fsync(fd); }

void reached(SaveStep step, int fd)
{
    if (saveStepCall())
        saveStepCall()(step, fd);
}

} // namespace Platform
