#pragma once
// Replay cameras: folders of PGM/PPM frames that play in a loop as if a webcam filmed them. JPEG
// frames (".jpg", ".jpeg") among them are decoded as a webcam's MJPEG frames, to the camera's own
// size: the size of its first frame.
//
// TARVELO_REPLAY_CAMERAS names a declaration file, one camera a line:
//     name | folder | options
// '#' starts a comment line. A relative folder is taken from the file's own folder. Options,
// separated by blanks:
//     rate=F           frames per second (default 15)
//     pins=LIST        output pins in order, from "capture" and "preview" (default capture,preview)
//     sizes=WxH,...    sizes offered after the frames' own size (frames are scaled to them)
//     fail=LIST        scripted failures: busy (Run fails as with a camera held elsewhere),
//                      bind (the device cannot be bound to its filter), properties (its property
//                      bag cannot be had), name (it has no "FriendlyName"), silent (it runs
//                      but never delivers a frame), lost (after 30 frames of each run it goes
//                      away, as an unplugged webcam does)
#include <memory>
#include <mutex>
#include <condition_variable>
#include <chrono>
#include <string>
#include <vector>

#include "platform/capture/FrameSource.h"

namespace tarvelo::capture {

enum class PinKind { Capture, Preview };

struct ReplayDeclaration {
    std::string name;
    std::string folder;
    double rate = 15.0;
    std::vector<PinKind> pins{PinKind::Capture, PinKind::Preview};
    std::vector<std::pair<int, int>> sizes;
    bool failBusy = false;
    bool failBind = false;
    bool failProperties = false;
    bool failName = false;
    bool failSilent = false;
    bool failLost = false;
};

// Parses declarations; bad lines are skipped with a warning "LINE: reason".
TARVELO_PLATFORM_API std::vector<ReplayDeclaration> parseReplayDeclarations(const std::string& text, const std::string& baseDir,
                                                       std::vector<std::string>* warnings = nullptr);
// The cameras that TARVELO_REPLAY_CAMERAS declares (none when it is unset or unreadable);
// warnings go to standard error.
TARVELO_PLATFORM_API std::vector<ReplayDeclaration> declaredReplayCameras();

// The frame files of a folder (".pgm", ".ppm", ".jpg" and ".jpeg"), in name order.
TARVELO_PLATFORM_API std::vector<std::string> listFrameFiles(const std::string& folder);

class TARVELO_PLATFORM_API ReplaySource : public FrameSource {
public:
    // Fails (null, with a reason) when the folder holds no readable frame.
    static std::unique_ptr<ReplaySource> open(const ReplayDeclaration& decl, std::string* error = nullptr);

    std::vector<SourceFormat> formats() const override;
    int start(const SourceFormat& format) override;
    Result read(FrameImage& out, int timeoutMs) override;
    void interrupt() override;
    void stop() override;

private:
    ReplaySource() = default;
    // One frame file; a JPEG frame at the size of first_ (any size while first_ is empty).
    bool readFrame(const std::string& file, FrameImage& out, std::string* error);
    ReplayDeclaration decl_;
    std::vector<std::string> files_;
    FrameImage first_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool interrupted_ = false;
    bool started_ = false;
    size_t next_ = 0;
    int delivered_ = 0;  // frames of this run
    std::chrono::steady_clock::time_point due_;
    std::chrono::steady_clock::duration period_{};
};

}  // namespace tarvelo::capture
