#pragma once
// What a capture filter pulls its pictures from: a webcam or a replay folder.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/capture/FrameImage.h"

namespace tarvelo::capture {

struct SourceFormat {
    int width = 0;
    int height = 0;
    int64_t frameInterval = 666666;  // 100 ns units
};

class FrameSource {
public:
    virtual ~FrameSource() = default;
    // The sizes offered, the current one first.
    virtual std::vector<SourceFormat> formats() const = 0;
    // Opens the source for streaming at the given size; 0 or an errno value (EBUSY for a camera
    // that another program holds).
    virtual int start(const SourceFormat& format) = 0;
    // Dropped: a damaged frame was passed over (why in dropReason()); the stream goes on.
    enum class Result { Frame, Timeout, Interrupted, Error, Dropped };
    // Blocks up to timeoutMs for the next picture (at the source's own pace).
    virtual Result read(FrameImage& out, int timeoutMs) = 0;
    // Why the last read returned Dropped; read on the thread that reads.
    const std::string& dropReason() const { return dropReason_; }
    // Wakes a read() in progress, or the next one when none is; that read returns Interrupted.
    // Callable from any thread.
    virtual void interrupt() = 0;
    virtual void stop() = 0;

protected:
    std::string dropReason_;
};

}  // namespace tarvelo::capture
