#include "platform/capture/V4l2Device.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <linux/videodev2.h>

namespace tarvelo::capture {

namespace {

int xioctl(int fd, unsigned long request, void* arg) {
    int r;
    do {
        r = ::ioctl(fd, request, arg);
    } while (r < 0 && errno == EINTR);
    return r;
}

bool supported(uint32_t fourcc) { return fourcc == V4L2_PIX_FMT_YUYV || fourcc == V4L2_PIX_FMT_MJPEG; }

// A size a device may offer: what it says is not trusted to be a size that can be allocated.
bool plausible(uint32_t width, uint32_t height) {
    return width > 0 && height > 0 && width <= static_cast<uint32_t>(kMaxFrameSide) &&
           height <= static_cast<uint32_t>(kMaxFrameSide);
}

uint32_t deviceCaps(const v4l2_capability& cap) {
    return (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
}

void frameInterval(int fd, V4l2Format& f) {
    v4l2_frmivalenum iv;
    std::memset(&iv, 0, sizeof iv);
    iv.pixel_format = f.fourcc;
    iv.width = static_cast<uint32_t>(f.width);
    iv.height = static_cast<uint32_t>(f.height);
    if (xioctl(fd, VIDIOC_ENUM_FRAMEINTERVALS, &iv) == 0) {
        if (iv.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
            f.intervalNum = iv.discrete.numerator;
            f.intervalDen = iv.discrete.denominator;
        } else {
            f.intervalNum = iv.stepwise.min.numerator;
            f.intervalDen = iv.stepwise.min.denominator;
        }
    }
}

}  // namespace

std::vector<V4l2DeviceInfo> listV4l2Devices() {
    std::vector<std::string> paths;
    if (const char* env = std::getenv("TARVELO_V4L2_DEVICES")) {
        std::string list = env;
        size_t start = 0;
        while (start <= list.size()) {
            size_t end = list.find(':', start);
            if (end == std::string::npos) end = list.size();
            if (end > start) paths.push_back(list.substr(start, end - start));
            start = end + 1;
        }
    } else if (DIR* dir = ::opendir("/dev")) {
        while (dirent* e = ::readdir(dir)) {
            if (std::strncmp(e->d_name, "video", 5) == 0) paths.push_back(std::string("/dev/") + e->d_name);
        }
        ::closedir(dir);
        // /dev/video2 before /dev/video10
        std::sort(paths.begin(), paths.end(), [](const std::string& a, const std::string& b) {
            return a.size() != b.size() ? a.size() < b.size() : a < b;
        });
    }
    std::vector<V4l2DeviceInfo> devices;
    for (const std::string& path : paths) {
        int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        v4l2_capability cap;
        std::memset(&cap, 0, sizeof cap);
        if (xioctl(fd, VIDIOC_QUERYCAP, &cap) == 0) {
            const uint32_t caps = deviceCaps(cap);
            // Metadata nodes of the same camera answer QUERYCAP too, but cannot capture.
            if ((caps & V4L2_CAP_VIDEO_CAPTURE) && (caps & V4L2_CAP_STREAMING)) {
                const char* card = reinterpret_cast<const char*>(cap.card);
                devices.push_back({path, std::string(card, strnlen(card, sizeof cap.card))});
            }
        }
        ::close(fd);
    }
    return devices;
}

std::vector<V4l2Format> queryV4l2Formats(const std::string& path) {
    std::vector<V4l2Format> formats;
    int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return formats;
    V4l2Format current;
    bool haveCurrent = false;
    v4l2_format fmt;
    std::memset(&fmt, 0, sizeof fmt);
    fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (xioctl(fd, VIDIOC_G_FMT, &fmt) == 0 && supported(fmt.fmt.pix.pixelformat) &&
        plausible(fmt.fmt.pix.width, fmt.fmt.pix.height)) {
        current.fourcc = fmt.fmt.pix.pixelformat;
        current.width = static_cast<int>(fmt.fmt.pix.width);
        current.height = static_cast<int>(fmt.fmt.pix.height);
        frameInterval(fd, current);
        v4l2_streamparm parm;
        std::memset(&parm, 0, sizeof parm);
        parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (xioctl(fd, VIDIOC_G_PARM, &parm) == 0 && parm.parm.capture.timeperframe.denominator) {
            current.intervalNum = parm.parm.capture.timeperframe.numerator;
            current.intervalDen = parm.parm.capture.timeperframe.denominator;
        }
        haveCurrent = true;
        formats.push_back(current);
    }
    for (uint32_t i = 0;; ++i) {
        v4l2_fmtdesc desc;
        std::memset(&desc, 0, sizeof desc);
        desc.index = i;
        desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (xioctl(fd, VIDIOC_ENUM_FMT, &desc) != 0) break;
        if (!supported(desc.pixelformat)) continue;
        for (uint32_t j = 0;; ++j) {
            v4l2_frmsizeenum size;
            std::memset(&size, 0, sizeof size);
            size.index = j;
            size.pixel_format = desc.pixelformat;
            if (xioctl(fd, VIDIOC_ENUM_FRAMESIZES, &size) != 0) break;
            std::vector<std::pair<int, int>> sizes;
            if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                sizes.emplace_back(size.discrete.width, size.discrete.height);
            } else {
                // A continuous range: offer its two ends and the usual sizes inside it.
                static const int common[][2] = {{160, 120}, {320, 240}, {640, 480}, {800, 600}, {1280, 720}};
                sizes.emplace_back(size.stepwise.min_width, size.stepwise.min_height);
                for (const auto& c : common)
                    if (static_cast<uint32_t>(c[0]) > size.stepwise.min_width &&
                        static_cast<uint32_t>(c[0]) < size.stepwise.max_width &&
                        static_cast<uint32_t>(c[1]) > size.stepwise.min_height &&
                        static_cast<uint32_t>(c[1]) < size.stepwise.max_height)
                        sizes.emplace_back(c[0], c[1]);
                sizes.emplace_back(size.stepwise.max_width, size.stepwise.max_height);
            }
            for (const auto& s : sizes) {
                if (!plausible(static_cast<uint32_t>(s.first), static_cast<uint32_t>(s.second))) continue;
                V4l2Format f;
                f.fourcc = desc.pixelformat;
                f.width = s.first;
                f.height = s.second;
                if (haveCurrent && f.fourcc == current.fourcc && f.width == current.width && f.height == current.height)
                    continue;
                frameInterval(fd, f);
                formats.push_back(f);
            }
            if (size.type != V4L2_FRMSIZE_TYPE_DISCRETE) break;
        }
    }
    ::close(fd);
    return formats;
}

V4l2Stream::~V4l2Stream() { stop(); }

int V4l2Stream::start(const std::string& path, const V4l2Format& format) {
    stop();
    fd_ = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return errno;
    auto fail = [this]() {
        int e = errno ? errno : EIO;
        stop();
        return e;
    };
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0) return fail();

    v4l2_format fmt;
    std::memset(&fmt, 0, sizeof fmt);
    fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    fmt.fmt.pix.width = static_cast<uint32_t>(format.width);
    fmt.fmt.pix.height = static_cast<uint32_t>(format.height);
    fmt.fmt.pix.pixelformat = format.fourcc;
    fmt.fmt.pix.field = V4L2_FIELD_ANY;
    if (xioctl(fd_, VIDIOC_S_FMT, &fmt) != 0) return fail();
    if (fmt.fmt.pix.pixelformat != format.fourcc || static_cast<int>(fmt.fmt.pix.width) != format.width ||
        static_cast<int>(fmt.fmt.pix.height) != format.height) {
        errno = EINVAL;
        return fail();
    }
    format_ = format;
    bytesPerLine_ = fmt.fmt.pix.bytesperline ? fmt.fmt.pix.bytesperline : static_cast<size_t>(format.width) * 2;
    if (format.intervalDen) {
        v4l2_streamparm parm;
        std::memset(&parm, 0, sizeof parm);
        parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        parm.parm.capture.timeperframe.numerator = format.intervalNum;
        parm.parm.capture.timeperframe.denominator = format.intervalDen;
        xioctl(fd_, VIDIOC_S_PARM, &parm);  // a driver that keeps its own rate is fine
    }

    v4l2_requestbuffers req;
    std::memset(&req, 0, sizeof req);
    req.count = 4;
    req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    req.memory = V4L2_MEMORY_MMAP;
    if (xioctl(fd_, VIDIOC_REQBUFS, &req) != 0) return fail();
    if (req.count < 2) {
        errno = ENOMEM;
        return fail();
    }
    for (uint32_t i = 0; i < req.count; ++i) {
        v4l2_buffer buf;
        std::memset(&buf, 0, sizeof buf);
        buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buf.memory = V4L2_MEMORY_MMAP;
        buf.index = i;
        if (xioctl(fd_, VIDIOC_QUERYBUF, &buf) != 0) return fail();
        void* p = ::mmap(nullptr, buf.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, buf.m.offset);
        if (p == MAP_FAILED) return fail();
        buffers_.push_back({p, buf.length});
        if (xioctl(fd_, VIDIOC_QBUF, &buf) != 0) return fail();
    }
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (xioctl(fd_, VIDIOC_STREAMON, &type) != 0) return fail();
    streaming_ = true;
    return 0;
}

bool convertV4l2Frame(const V4l2Format& format, size_t bytesPerLine, const uint8_t* data, size_t used,
                      FrameImage& out, std::string* why) {
    if (format.fourcc == V4L2_PIX_FMT_MJPEG) return mjpegToBgr(data, used, format.width, format.height, out, why);
    if (format.width <= 0 || format.height <= 0 || bytesPerLine < static_cast<size_t>(format.width) * 2 ||
        used < bytesPerLine * static_cast<size_t>(format.height)) {
        if (why) *why = "short YUYV frame";
        return false;
    }
    yuyvToBgr(data, format.width, format.height, bytesPerLine, out);
    return true;
}

V4l2Stream::Result V4l2Stream::read(FrameImage& out, int timeoutMs, std::string* why) {
    if (fd_ < 0) return Result::Error;
    pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    int r = ::poll(fds, 2, timeoutMs);
    if (r < 0) return errno == EINTR ? Result::Timeout : Result::Error;
    if (fds[1].revents & POLLIN) {
        uint64_t count = 0;
        ssize_t n = ::read(wakeFd_, &count, sizeof count);  // consumed: the next read waits again
        (void)n;
        return Result::Interrupted;
    }
    if (r == 0) return Result::Timeout;
    if (fds[0].revents & (POLLERR | POLLHUP)) return Result::Error;
    v4l2_buffer buf;
    std::memset(&buf, 0, sizeof buf);
    buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buf.memory = V4L2_MEMORY_MMAP;
    if (xioctl(fd_, VIDIOC_DQBUF, &buf) != 0) return errno == EAGAIN ? Result::Timeout : Result::Error;
    std::string reason;
    if (buf.index >= buffers_.size()) {
        reason = "the device returned an unknown buffer";
    } else if (buf.flags & V4L2_BUF_FLAG_ERROR) {
        reason = "the device marked the frame damaged";
    } else {
        // What the device says it filled, never more than the buffer it mapped.
        const size_t used = std::min<size_t>(buf.bytesused, buffers_[buf.index].length);
        convertV4l2Frame(format_, bytesPerLine_, static_cast<const uint8_t*>(buffers_[buf.index].start), used, out,
                         &reason);
    }
    xioctl(fd_, VIDIOC_QBUF, &buf);
    if (reason.empty()) return Result::Frame;
    // Dropped, as a glitch on the wire would be.
    if (why) *why = reason;
    return Result::Dropped;
}

void V4l2Stream::interrupt() {
    if (wakeFd_ >= 0) {
        uint64_t one = 1;
        ssize_t n = ::write(wakeFd_, &one, sizeof one);
        (void)n;
    }
}

void V4l2Stream::stop() {
    if (fd_ >= 0 && streaming_) {
        v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        xioctl(fd_, VIDIOC_STREAMOFF, &type);
    }
    streaming_ = false;
    for (Buffer& b : buffers_) ::munmap(b.start, b.length);
    buffers_.clear();
    if (fd_ >= 0) {
        v4l2_requestbuffers req;
        std::memset(&req, 0, sizeof req);
        req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        req.memory = V4L2_MEMORY_MMAP;
        xioctl(fd_, VIDIOC_REQBUFS, &req);
        ::close(fd_);
        fd_ = -1;
    }
    if (wakeFd_ >= 0) {
        ::close(wakeFd_);
        wakeFd_ = -1;
    }
}

}  // namespace tarvelo::capture

namespace tarvelo::capture {

namespace {
int64_t toInterval(const V4l2Format& f) {
    if (!f.intervalDen || !f.intervalNum) return 333333;
    return static_cast<int64_t>(10000000.0 * f.intervalNum / f.intervalDen + 0.5);
}
}  // namespace

V4l2Source::V4l2Source(const std::string& path) : path_(path), formats_(queryV4l2Formats(path)) {}

namespace {
// The better of two encodings of one size: the higher frame rate (a webcam often gives large
// sizes at full rate only in MJPEG), then YUYV, which needs no decoding.
bool better(const V4l2Format& a, const V4l2Format& b) {
    const int64_t ia = toInterval(a), ib = toInterval(b);
    if (ia != ib) return ia < ib;
    return a.fourcc == V4L2_PIX_FMT_YUYV && b.fourcc != V4L2_PIX_FMT_YUYV;
}
}  // namespace

const V4l2Format* chooseV4l2Format(const std::vector<V4l2Format>& formats, int width, int height) {
    const V4l2Format* chosen = nullptr;
    for (const V4l2Format& f : formats)
        if (f.width == width && f.height == height && (!chosen || better(f, *chosen))) chosen = &f;
    return chosen;
}

std::vector<SourceFormat> v4l2SourceFormats(const std::vector<V4l2Format>& formats) {
    // One entry a size, in the device's order (the current size first), at its best rate.
    std::vector<SourceFormat> list;
    for (const V4l2Format& f : formats) {
        bool seen = false;
        for (const SourceFormat& s : list) seen = seen || (s.width == f.width && s.height == f.height);
        if (!seen) list.push_back({f.width, f.height, toInterval(*chooseV4l2Format(formats, f.width, f.height))});
    }
    return list;
}

std::vector<SourceFormat> V4l2Source::formats() const { return v4l2SourceFormats(formats_); }

int V4l2Source::start(const SourceFormat& format) {
    const V4l2Format* chosen = chooseV4l2Format(formats_, format.width, format.height);
    if (!chosen) return EINVAL;
    return stream_.start(path_, *chosen);
}

FrameSource::Result V4l2Source::read(FrameImage& out, int timeoutMs) {
    switch (stream_.read(out, timeoutMs, &dropReason_)) {
    case V4l2Stream::Result::Frame: return Result::Frame;
    case V4l2Stream::Result::Timeout: return Result::Timeout;
    case V4l2Stream::Result::Interrupted: return Result::Interrupted;
    case V4l2Stream::Result::Dropped: return Result::Dropped;
    default: return Result::Error;
    }
}

void V4l2Source::interrupt() { stream_.interrupt(); }

void V4l2Source::stop() { stream_.stop(); }

}  // namespace tarvelo::capture
