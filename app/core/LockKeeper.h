#pragma once
// What the lock keeper, the tray that starts it and the unlock screens it starts agree on. The
// keeper holds one lock from its start to an unlock: the lock desktop's cover (and the input while
// no unlock screen shows), the unlock screen, started again whenever it ends without an unlock or
// stops beating, and the name below, so that a tray started during the lock finds it.
//
// Its command line: kProgram --desktop NAME --log FILE --status FILE --start-limit MS
// --restart-interval MS -- <the unlock screen's command line>. It ends with the unlock status
// (kUnlockedByFace, kUnlockedByPassword) after taking the cover down, having written that status
// to the status file; any other end is no unlock.
//
// The heartbeat: the unlock screen finds a pipe's write end in kHeartbeatVariable and writes one
// byte per beat: kGuiBeat from its GUI thread at least every second, kFrameBeat from the
// streaming thread for each frame while the camera streams, kStreamStopped when it stops the
// camera, kUnlocking when it was opened and ends. Silence of kSilenceLimit from either thread that
// should beat ends that screen; so does an unlock that does not end within the start limit.

#include <sstream>
#include <string>

#include "app/core/ProductConstants.h"

namespace lockkeeper {

constexpr const char* kProgram = "TarveloKeeper";
// Held by the keeper for the whole lock; it goes with the keeper, also when it is killed.
constexpr const char* kMutex = "Global\\Tarvelo_RunOnceLock";
// In the private runtime folder: the unlock status of the last lock that ended with one.
constexpr const char* kStatusFile = "Tarvelo_lock.status";
constexpr const char* kHeartbeatVariable = "TARVELO_HEARTBEAT_FD";
constexpr char kGuiBeat = 'g';
constexpr char kFrameBeat = 'f';
constexpr char kStreamStopped = 'x';
constexpr char kUnlocking = 'u';
constexpr unsigned kSilenceLimit = 5000;  // ms
constexpr unsigned kBeatInterval = 1000;  // ms, the GUI thread's

// Whether an end status of an unlock screen, and so of the keeper, opens the session.
inline bool isUnlockStatus(unsigned status) {
    return status == unsigned(kUnlockedByFace) || status == unsigned(kUnlockedByPassword);
}

// The status file's text, as the keeper writes it and a waiting tray reads it back.
inline std::string statusText(unsigned status) { return std::to_string(status) + "\n"; }
// Only a text that is one number whole counts: a file cut short or damaged is no unlock.
inline bool parseStatus(const std::string& text, unsigned& status) {
    std::istringstream in(text);
    unsigned read = 0;
    if (!(in >> read) || !(in >> std::ws).eof()) return false;
    status = read;
    return true;
}

// An argument written so that CreateProcessA's splitting gives it back whole.
inline std::string quoted(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
    std::string out = "\"";
    size_t slashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++slashes;
            continue;
        }
        out.append(c == '"' ? slashes * 2 + 1 : slashes, '\\');
        slashes = 0;
        out += c;
    }
    out.append(slashes * 2, '\\');
    return out + "\"";
}

}  // namespace lockkeeper
