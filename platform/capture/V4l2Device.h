#pragma once
// Linux video capture devices (V4L2): discovery, their formats, and streaming to B,G,R frames.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/capture/FrameImage.h"
#include "platform/capture/FrameSource.h"

namespace tarvelo::capture {

struct V4l2Format {
    uint32_t fourcc = 0;  // V4L2_PIX_FMT_YUYV or V4L2_PIX_FMT_MJPEG
    int width = 0;
    int height = 0;
    uint32_t intervalNum = 1;  // seconds per frame as a fraction; 0/0 when the driver does not say
    uint32_t intervalDen = 30;
};

struct V4l2DeviceInfo {
    std::string path;      // "/dev/video0"
    std::string cardName;  // the driver's card name, used as the friendly name
};

// The capture-capable devices. The variable TARVELO_V4L2_DEVICES, when set, replaces the scan of
// /dev/video* by a colon-separated list of device paths (empty: no webcam at all).
TARVELO_PLATFORM_API std::vector<V4l2DeviceInfo> listV4l2Devices();

// The device's formats that we can convert (YUYV, MJPEG) with their frame sizes, the current
// format first. Opening a device that another process streams from works: only streaming is
// exclusive.
TARVELO_PLATFORM_API std::vector<V4l2Format> queryV4l2Formats(const std::string& path);

// One streaming session. start() opens the device for streaming: a camera that another program
// holds fails here with EBUSY.
class TARVELO_PLATFORM_API V4l2Stream {
public:
    V4l2Stream() = default;
    ~V4l2Stream();
    V4l2Stream(const V4l2Stream&) = delete;
    V4l2Stream& operator=(const V4l2Stream&) = delete;

    // 0, or the errno of the failing step.
    int start(const std::string& path, const V4l2Format& format);
    enum class Result { Frame, Timeout, Interrupted, Error, Dropped };
    // Waits up to timeoutMs for the next frame and converts it. A damaged frame, or a compressed
    // one that declares another size than the stream's, is Dropped, with the reason in *why.
    Result read(FrameImage& out, int timeoutMs, std::string* why = nullptr);
    // Wakes a read() in progress (or the next one), from any thread; that read returns Interrupted.
    void interrupt();
    void stop();
    bool active() const { return fd_ >= 0; }
    const V4l2Format& format() const { return format_; }

private:
    struct Buffer {
        void* start = nullptr;
        size_t length = 0;
    };
    int fd_ = -1;
    int wakeFd_ = -1;
    bool streaming_ = false;
    std::vector<Buffer> buffers_;
    V4l2Format format_;
    size_t bytesPerLine_ = 0;
};

}  // namespace tarvelo::capture

namespace tarvelo::capture {

// One frame of a stream in that format, used bytes of it at data, rows bytesPerLine apart (YUYV):
// false, with the reason, for a frame shorter than its rows or a compressed one that cannot be
// decoded to the format's size; nothing is read beyond used.
TARVELO_PLATFORM_API bool convertV4l2Frame(const V4l2Format& format, size_t bytesPerLine, const uint8_t* data,
                                           size_t used, FrameImage& out, std::string* why = nullptr);

// The encoding used for a size: the highest frame rate, then YUYV (no decoding); null when the
// device has no format of that size.
TARVELO_PLATFORM_API const V4l2Format* chooseV4l2Format(const std::vector<V4l2Format>& formats, int width,
                                                        int height);
// The sizes a webcam offers, once each, in the device's order, each at its best rate.
TARVELO_PLATFORM_API std::vector<SourceFormat> v4l2SourceFormats(const std::vector<V4l2Format>& formats);

// A webcam as a frame source: the sizes of its YUYV and MJPEG formats, the current one first.
class TARVELO_PLATFORM_API V4l2Source : public FrameSource {
public:
    explicit V4l2Source(const std::string& path);
    const std::string& path() const { return path_; }
    bool usable() const { return !formats_.empty(); }

    std::vector<SourceFormat> formats() const override;
    int start(const SourceFormat& format) override;
    Result read(FrameImage& out, int timeoutMs) override;
    void interrupt() override;
    void stop() override;

private:
    std::string path_;
    std::vector<V4l2Format> formats_;
    V4l2Stream stream_;
};

}  // namespace tarvelo::capture
