#include "platform/capture/ReplayCamera.h"

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>
#include <fstream>
#include <sstream>

namespace tarvelo::capture {

namespace {

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return std::string();
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t end = s.find(sep, start);
        parts.push_back(trim(s.substr(start, end == std::string::npos ? std::string::npos : end - start)));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return parts;
}

// Numbers in the C locale whatever the process's locale. The frame period and the 100 ns interval
// the formats report are computed from the rate, so a rate outside what a camera gives is refused
// rather than let overflow them.
bool parseRate(const std::string& text, double& value) {
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    double rate = 0;
    in >> rate;
    if (in.fail() || !in.eof() || !(rate >= 0.1 && rate <= 1000.0)) return false;
    value = rate;
    return true;
}

bool parseSize(const std::string& text, std::pair<int, int>& size) {
    size_t x = text.find('x');
    if (x == std::string::npos || x == 0 || x + 1 >= text.size()) return false;
    char* end = nullptr;
    long w = std::strtol(text.c_str(), &end, 10);
    if (end != text.c_str() + x) return false;
    long h = std::strtol(text.c_str() + x + 1, &end, 10);
    if (*end != '\0') return false;
    if (w <= 0 || h <= 0 || w > 8192 || h > 8192) return false;
    size = {static_cast<int>(w), static_cast<int>(h)};
    return true;
}

bool endsWith(const std::string& s, const char* suffix) {
    std::string suf = suffix;
    if (s.size() < suf.size()) return false;
    for (size_t i = 0; i < suf.size(); ++i) {
        char c = s[s.size() - suf.size() + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != suf[i]) return false;
    }
    return true;
}

bool isJpegFrame(const std::string& name) { return endsWith(name, ".jpg") || endsWith(name, ".jpeg"); }

}  // namespace

std::vector<ReplayDeclaration> parseReplayDeclarations(const std::string& text, const std::string& baseDir,
                                                       std::vector<std::string>* warnings) {
    std::vector<ReplayDeclaration> cameras;
    std::istringstream in(text);
    std::string line;
    int number = 0;
    auto warn = [&](const std::string& why) {
        if (warnings) warnings->push_back(std::to_string(number) + ": " + why);
    };
    while (std::getline(in, line)) {
        ++number;
        std::string t = trim(line);
        if (t.empty() || t[0] == '#') continue;
        std::vector<std::string> fields = split(t, '|');
        if (fields.size() < 2 || fields.size() > 3 || fields[0].empty() || fields[1].empty()) {
            warn("expected \"name | folder | options\"");
            continue;
        }
        ReplayDeclaration d;
        d.name = fields[0];
        d.folder = fields[1];
        if (d.folder[0] != '/' && !baseDir.empty()) d.folder = baseDir + "/" + d.folder;
        bool ok = true;
        if (fields.size() == 3) {
            std::istringstream opts(fields[2]);
            std::string opt;
            while (ok && opts >> opt) {
                size_t eq = opt.find('=');
                std::string key = opt.substr(0, eq);
                std::string value = eq == std::string::npos ? std::string() : opt.substr(eq + 1);
                if (key == "rate") {
                    ok = parseRate(value, d.rate);
                } else if (key == "pins") {
                    d.pins.clear();
                    for (const std::string& p : split(value, ',')) {
                        if (p == "capture") d.pins.push_back(PinKind::Capture);
                        else if (p == "preview") d.pins.push_back(PinKind::Preview);
                        else ok = false;
                    }
                } else if (key == "sizes") {
                    for (const std::string& s : split(value, ',')) {
                        std::pair<int, int> size;
                        if (parseSize(s, size)) d.sizes.push_back(size);
                        else ok = false;
                    }
                } else if (key == "fail") {
                    for (const std::string& f : split(value, ',')) {
                        if (f == "busy") d.failBusy = true;
                        else if (f == "bind") d.failBind = true;
                        else if (f == "properties") d.failProperties = true;
                        else if (f == "name") d.failName = true;
                        else if (f == "silent") d.failSilent = true;
                        else if (f == "lost") d.failLost = true;
                        else ok = false;
                    }
                } else {
                    ok = false;
                }
                if (!ok) warn("bad option \"" + opt + "\"");
            }
        }
        if (ok && d.pins.empty()) {
            warn("a camera needs at least one pin");
            ok = false;
        }
        if (ok) cameras.push_back(d);
    }
    return cameras;
}

std::vector<ReplayDeclaration> declaredReplayCameras() {
    const char* path = std::getenv("TARVELO_REPLAY_CAMERAS");
    if (!path || !*path) return {};
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "replay cameras: cannot read %s\n", path);
        return {};
    }
    std::stringstream text;
    text << in.rdbuf();
    std::string file = path;
    size_t slash = file.rfind('/');
    std::string baseDir = slash == std::string::npos ? std::string(".") : (slash == 0 ? std::string("/") : file.substr(0, slash));
    std::vector<std::string> warnings;
    std::vector<ReplayDeclaration> cameras = parseReplayDeclarations(text.str(), baseDir, &warnings);
    for (const std::string& w : warnings) std::fprintf(stderr, "replay cameras: %s:%s\n", path, w.c_str());
    return cameras;
}

std::vector<std::string> listFrameFiles(const std::string& folder) {
    std::vector<std::string> files;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (dirent* e = ::readdir(dir)) {
            std::string name = e->d_name;
            if (endsWith(name, ".pgm") || endsWith(name, ".ppm") || isJpegFrame(name)) files.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(files.begin(), files.end());
    // Only files are frames: a folder named like one is passed over.
    std::vector<std::string> frames;
    for (const std::string& f : files) {
        struct stat st;
        const std::string path = folder + "/" + f;
        if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) frames.push_back(path);
    }
    return frames;
}

std::unique_ptr<ReplaySource> ReplaySource::open(const ReplayDeclaration& decl, std::string* error) {
    std::unique_ptr<ReplaySource> source(new ReplaySource());
    source->decl_ = decl;
    source->files_ = listFrameFiles(decl.folder);
    if (source->files_.empty()) {
        if (error) *error = "no frame file (PGM, PPM or JPEG) in " + decl.folder;
        return nullptr;
    }
    if (!source->readFrame(source->files_.front(), source->first_, error)) return nullptr;
    source->period_ = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(1.0 / decl.rate));
    return source;
}

std::vector<SourceFormat> ReplaySource::formats() const {
    const int64_t interval = static_cast<int64_t>(1e7 / decl_.rate + 0.5);
    std::vector<SourceFormat> list{{first_.width, first_.height, interval}};
    for (const auto& s : decl_.sizes) {
        if (s.first == first_.width && s.second == first_.height) continue;
        list.push_back({s.first, s.second, interval});
    }
    return list;
}

int ReplaySource::start(const SourceFormat&) {
    if (decl_.failBusy) return EBUSY;
    std::lock_guard<std::mutex> lock(mutex_);
    started_ = true;
    interrupted_ = false;
    next_ = 0;
    delivered_ = 0;
    due_ = std::chrono::steady_clock::now();
    return 0;
}

FrameSource::Result ReplaySource::read(FrameImage& out, int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!started_) return Result::Error;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    const auto until = decl_.failSilent ? limit : std::min(limit, due_);
    wake_.wait_until(lock, until, [this] { return interrupted_; });
    if (interrupted_) {
        interrupted_ = false;
        return Result::Interrupted;
    }
    if (decl_.failSilent || std::chrono::steady_clock::now() < due_) return Result::Timeout;
    if (decl_.failLost && delivered_ >= 30) return Result::Error;
    ++delivered_;
    const std::string file = files_[next_];
    next_ = (next_ + 1) % files_.size();
    due_ += period_;
    // After a long stall (a slow consumer), keep the pace instead of bursting to catch up.
    const auto now = std::chrono::steady_clock::now();
    if (due_ < now) due_ = now;
    lock.unlock();
    if (file == files_.front() && !first_.empty()) {
        out = first_;
        return Result::Frame;
    }
    // A frame that cannot be read is dropped; the loop goes on at its pace.
    return readFrame(file, out, &dropReason_) ? Result::Frame : Result::Dropped;
}

bool ReplaySource::readFrame(const std::string& file, FrameImage& out, std::string* error) {
    if (!isJpegFrame(file)) return readNetpbm(file, out, error);
    // Decoded as a webcam's MJPEG frames are, to the camera's own size (its first frame's).
    int width = first_.width, height = first_.height;
    return readJpegFrame(file, width, height, out, error);
}

void ReplaySource::interrupt() {
    std::lock_guard<std::mutex> lock(mutex_);
    interrupted_ = true;
    wake_.notify_all();
}

void ReplaySource::stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    started_ = false;
    interrupted_ = false;
}

}  // namespace tarvelo::capture
