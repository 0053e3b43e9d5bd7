// The steps of a save, and the seams through which tests reach them: the
// call that syncs a file to disk and a call at each step of a save.
#pragma once

namespace Platform {

enum class SaveStep {
    Created,   // the new file beside is made, still empty
    Written,   // the new bytes are in it and synced
    GivenOver, // it has the owner, group, mode and ACL it keeps
    Renamed,   // it has taken the file's name
    Rewritten, // in place: the new bytes are written, the file not yet cut to their length
};

// Seams for tests: the call that syncs a file to disk (nullptr: fsync), and a
// call at each step of a save, given the descriptor of the file being written
// (nullptr: none).
using SyncCall = int (*)(int fd);
void setSyncCall(SyncCall call);
using SaveStepCall = void (*)(SaveStep step, int fd);
void setSaveStepCall(SaveStepCall call);

// Syncs the file to disk through the seam; 0 when done.
int syncFile(int fd);
// Says that a save has come to `step` with the file `fd`.
void reached(SaveStep step, int fd);

} // namespace Platform
