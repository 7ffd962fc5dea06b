#include "app/core/Configuration.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <locale>
#include <memory>
#include <sstream>

#include <wx/fileconf.h>
#include <wx/filename.h>
#include <wx/log.h>

#include "app/capture/ApplicationServices.h"
#include "app/core/ProductConstants.h"
#include "src/Logger.h"
#include "detection/settings/FaceTrackingSettings.h"

using vision::FaceTrackingSettings;

namespace {

const char* const kFormats[] = {"320x240", "480x360", "640x480"};
const unsigned kWidths[] = {320, 480, 640};
const unsigned kHeights[] = {240, 360, 480};

locale_t cLocale() {
    static locale_t c = newlocale(LC_ALL_MASK, "C", nullptr);
    return c;
}

wxString wx(const std::string& s) { return wxString::FromUTF8(s.c_str()); }
std::string utf8(const wxString& s) { return std::string(s.utf8_str()); }

// A present key: it exists and its text is not empty.
bool present(wxFileConfig& file, const char* key, std::string& text) {
    wxString value;
    if (!file.Read(key, &value) || value.empty()) return false;
    text = utf8(value);
    return true;
}

// The leading decimal integer of text (a number followed by other characters is that number);
// false when the text does not start with one.
bool leadingInteger(const std::string& text, long long& v) {
    char* end = nullptr;
    errno = 0;
    v = std::strtoll(text.c_str(), &end, 10);
    return end != text.c_str();
}
int toInt(long long v) { return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : int(v); }

// The leading decimal number of text in the C locale; false when there is none or it is not finite.
bool leadingDecimal(const std::string& text, double& v) {
    char* end = nullptr;
    v = strtod_l(text.c_str(), &end, cLocale());
    return end != text.c_str() && std::isfinite(v);
}

// A value that is not a number keeps the field as it was (its default in a fresh record): reading
// it as 0 would, for a delay, lock the screen seconds after the start.
void unreadable(Logger* logger, const char* key, const std::string& text) {
    if (logger)
        logger->log(std::string("WARNING: The value '") + text + "' of " + key +
                    " in the configuration file isn't a number, the default is kept");
}

// A decimal of the file as the score it stands for: whole thousandths, truncated toward zero and held
// to the 32-bit range. A product that lies within rounding noise of a whole number is that number, so
// that a saved 0.57 reads back as 0.57 and not 0.569.
float scoreFromDecimal(double value) {
    double t = value * 1000.0;
    double nearest = std::round(t);
    if (std::fabs(t - nearest) < 1e-6 * std::fmax(1.0, std::fabs(t))) t = nearest;
    t = std::trunc(t);
    if (t >= double(INT_MAX)) t = INT_MAX;
    if (t <= double(INT_MIN)) t = INT_MIN;
    return static_cast<float>(t / 1000.0);
}

uint32_t secondsToMs(long long seconds) { return uint32_t(seconds * 1000); }

// "%g" in the C locale.
std::string decimalText(double v) {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out << v;
    return out.str();
}

std::unique_ptr<wxFileConfig> openFile(const std::string& path) {
    wxFileName name(wx(path));
    name.MakeAbsolute();  // relative to the working folder, not to the home folder
    auto file = std::make_unique<wxFileConfig>(kProductConstants[PC_PRODUCT], kProductConstants[PC_VENDOR],
                                               name.GetFullPath(), wxEmptyString, wxCONFIG_USE_LOCAL_FILE);
    file->SetUmask(0077);         // the configuration is the user's own: 0600
    file->SetExpandEnvVars(false);  // a path is taken as written
    return file;
}

// The file being read, with the logger that hears what cannot be taken from it.
struct Reader {
    wxFileConfig& file;
    Logger* logger;
};

void readInt(Reader& r, const char* key, int& field) {
    std::string text;
    long long v;
    if (!present(r.file, key, text)) return;
    if (leadingInteger(text, v))
        field = toInt(v);
    else
        unreadable(r.logger, key, text);
}
void readReal(Reader& r, const char* key, float& field) {
    std::string text;
    double v;
    if (!present(r.file, key, text)) return;
    if (leadingDecimal(text, v))
        field = float(v);
    else
        unreadable(r.logger, key, text);
}
void readScore(Reader& r, const char* key, float& field) {
    std::string text;
    double v;
    if (!present(r.file, key, text)) return;
    if (leadingDecimal(text, v))
        field = scoreFromDecimal(v);
    else
        unreadable(r.logger, key, text);
}
// A delay outside the parameters page's range is brought into it: 0 would mean back-to-back
// presence checks.
void readDelay(Reader& r, const char* key, uint32_t& field) {
    std::string text;
    long long v;
    if (!present(r.file, key, text)) return;
    if (!leadingInteger(text, v)) {
        unreadable(r.logger, key, text);
        return;
    }
    const long long clamped = std::min<long long>(std::max<long long>(v, kMinDelaySeconds), kMaxDelaySeconds);
    if (clamped != v && r.logger)
        r.logger->log(std::string("WARNING: The delay of ") + text + " s of " + key + " is out of range, " +
                      std::to_string(clamped) + " s is used");
    field = secondsToMs(clamped);
}
void readText(Reader& r, const char* key, std::string& field) {
    std::string text;
    if (present(r.file, key, text)) field = text;
}

bool write(wxFileConfig& file, const char* key, const std::string& text) { return file.Write(key, wx(text)); }
bool writeInt(wxFileConfig& file, const char* key, long long v) { return write(file, key, std::to_string(v)); }
// The score's whole thousandths as a decimal, so that what was read is written back as it was.
bool writeScore(wxFileConfig& file, const char* key, float v) {
    return write(file, key, decimalText(std::round(double(v) * 1000.0) / 1000.0));
}

}  // namespace

Configuration::Configuration()
    : version("0.0"),
      idleDelay(600000),
      maxDetectionConfidence(0.2f),
      goodDetectionConfidence(0.1f),
      badDetectionConfidence(0.05f),
      maxVerificationConfidence(1.0f),
      goodVerificationConfidence(0.6f),
      badVerificationConfidence(CaptureConfiguration().badVerificationConfidence),
      adaptationThreshold(CaptureConfiguration().adaptationThreshold),
      nextUserId(5000),
      verificationIdleDelay(300000),
      worldModel("models/world6-64x80-dctmod2-gmm.model"),
      detectorType(1),
      detectorModel("models/mct4.cascade"),
      detectorThreshold(0),
      detectorNormalized(false),
      maxFaces(1),
      trackingSettings(new FaceTrackingSettings(1, 320, 240)),
      cameraName(),
      formatIndex(0) {}

Configuration::~Configuration() { delete trackingSettings; }

bool Configuration::load(const std::string& path, Logger* logger) {
    wxLogNull quiet;  // a damaged file must not pop up the toolkit's own messages
    std::unique_ptr<wxFileConfig> file = openFile(path);
    Reader f{*file, logger};

    readText(f, "/Application/Version", version);
    readDelay(f, "/Application/IdleDelay", idleDelay);
    readScore(f, "/Application/MaxDetectionConfidence", maxDetectionConfidence);
    readScore(f, "/Application/GoodDetectionConfidence", goodDetectionConfidence);
    readScore(f, "/Application/BadDetectionConfidence", badDetectionConfidence);
    readScore(f, "/Application/MaxVerificationConfidence", maxVerificationConfidence);
    readScore(f, "/Application/GoodVerificationConfidence", goodVerificationConfidence);
    readScore(f, "/Application/BadVerificationConfidence", badVerificationConfidence);
    readScore(f, "/Application/AdaptationThreshold", adaptationThreshold);
    readInt(f, "/Application/NextUserID", nextUserId);
    if (adaptationThreshold > badVerificationConfidence) adaptationThreshold = badVerificationConfidence;

    readDelay(f, "/Verification/IdleDelay", verificationIdleDelay);
    readText(f, "/Verification/WorldModel", worldModel);

    readText(f, "/Camera/Name", cameraName);
    std::string format;
    if (present(f.file, "/Camera/Format", format)) {
        setFormat(format);
        if (formatIndex == 3) formatIndex = 0;
    } else {
        formatIndex = 0;
    }

    std::string type;
    if (!present(f.file, "/FaceDetector/Type", type)) return false;
    if (type == "Frontal")
        detectorType = 1;
    else if (type == "Multiview")
        detectorType = 2;
    else
        return false;
    readText(f, "/FaceDetector/Model", detectorModel);
    readReal(f, "/FaceDetector/Threshold", detectorThreshold);
    std::string normalized;
    if (present(f.file, "/FaceDetector/Normalized", normalized)) {
        char* end = nullptr;
        errno = 0;
        long long v = std::strtoll(normalized.c_str(), &end, 10);
        if (end != normalized.c_str() && *end == '\0' && errno == 0) detectorNormalized = v != 0;
    }
    readInt(f, "/FaceDetector/MaxFaces", maxFaces);

    if (trackingSettings->max_faces != maxFaces) {
        delete trackingSettings;
        trackingSettings = new FaceTrackingSettings(maxFaces, int(getFormatWidth()), int(getFormatHeight()));
    }
    FaceTrackingSettings& s = *trackingSettings;
    readInt(f, "/FaceDetector/minWsize", s.min_size.value);
    readInt(f, "/FaceDetector/maxWsize", s.max_size.value);
    readReal(f, "/FaceDetector/stepXfactor", s.step_x_factor.value);
    readReal(f, "/FaceDetector/stepYfactor", s.step_y_factor.value);
    readReal(f, "/FaceDetector/scalefactor", s.scale_factor.value);
    readInt(f, "/FaceDetector/avg_cnt", s.averager_length.value);
    readReal(f, "/FaceDetector/threshold_correlation", s.correlation_threshold.value);
    readInt(f, "/FaceDetector/modulo", s.modulo_detection.value);
    readInt(f, "/FaceDetector/pixel_difference", s.pixel_sensitivity.value);
    readInt(f, "/FaceDetector/motion_quantity", s.motion.value);
    readInt(f, "/FaceDetector/sim_delta_xy", s.max_distance.value);
    readInt(f, "/FaceDetector/sim_delta_width", s.max_delta_width.value);
    return true;
}

bool Configuration::save(const std::string& path) {
    wxLogNull quiet;
    std::unique_ptr<wxFileConfig> file = openFile(path);
    wxFileConfig& f = *file;
    auto finish = [&](bool ok) { return f.Flush() && ok; };

    bool ok = write(f, "/Application/Version", version) &&
              writeInt(f, "/Application/IdleDelay", idleDelay / 1000) &&
              writeScore(f, "/Application/MaxDetectionConfidence", maxDetectionConfidence) &&
              writeScore(f, "/Application/GoodDetectionConfidence", goodDetectionConfidence) &&
              writeScore(f, "/Application/BadDetectionConfidence", badDetectionConfidence) &&
              writeScore(f, "/Application/MaxVerificationConfidence", maxVerificationConfidence) &&
              writeScore(f, "/Application/GoodVerificationConfidence", goodVerificationConfidence) &&
              writeScore(f, "/Application/BadVerificationConfidence", badVerificationConfidence) &&
              writeScore(f, "/Application/AdaptationThreshold", adaptationThreshold) &&
              writeInt(f, "/Application/NextUserID", nextUserId) &&
              writeInt(f, "/Verification/IdleDelay", verificationIdleDelay / 1000) &&
              write(f, "/Verification/WorldModel", worldModel);
    if (!ok) return finish(false);

    if (detectorType != 1 && detectorType != 2) return finish(false);
    const FaceTrackingSettings& s = *trackingSettings;
    ok = write(f, "/FaceDetector/Type", detectorType == 1 ? "Frontal" : "Multiview") &&
         write(f, "/FaceDetector/Model", detectorModel) &&
         write(f, "/FaceDetector/Threshold", decimalText(detectorThreshold)) &&
         writeInt(f, "/FaceDetector/Normalized", detectorNormalized ? 1 : 0) &&
         writeInt(f, "/FaceDetector/MaxFaces", maxFaces) &&
         writeInt(f, "/FaceDetector/minWsize", s.min_size.value) &&
         writeInt(f, "/FaceDetector/maxWsize", s.max_size.value) &&
         write(f, "/FaceDetector/stepXfactor", decimalText(s.step_x_factor.value)) &&
         write(f, "/FaceDetector/stepYfactor", decimalText(s.step_y_factor.value)) &&
         write(f, "/FaceDetector/scalefactor", decimalText(s.scale_factor.value)) &&
         writeInt(f, "/FaceDetector/avg_cnt", s.averager_length.value) &&
         write(f, "/FaceDetector/threshold_correlation", decimalText(s.correlation_threshold.value)) &&
         writeInt(f, "/FaceDetector/modulo", s.modulo_detection.value) &&
         writeInt(f, "/FaceDetector/pixel_difference", s.pixel_sensitivity.value) &&
         writeInt(f, "/FaceDetector/motion_quantity", s.motion.value) &&
         writeInt(f, "/FaceDetector/sim_delta_xy", s.max_distance.value) &&
         writeInt(f, "/FaceDetector/sim_delta_width", s.max_delta_width.value);
    if (!ok) return finish(false);

    ok = write(f, "/Camera/Name", cameraName) && write(f, "/Camera/Format", getFormat());
    return finish(ok);
}

std::string Configuration::getFormat() const { return formatText(formatIndex); }

void Configuration::setFormat(const std::string& format) {
    formatIndex = 3;
    for (int i = 0; i < 3; ++i)
        if (format == kFormats[i]) formatIndex = i;
}

unsigned Configuration::getFormatWidth() const { return formatWidth(formatIndex); }
unsigned Configuration::getFormatHeight() const { return formatHeight(formatIndex); }

std::string Configuration::formatText(int index) { return index >= 0 && index < 3 ? kFormats[index] : ""; }
unsigned Configuration::formatWidth(int index) { return index >= 0 && index < 3 ? kWidths[index] : 0; }
unsigned Configuration::formatHeight(int index) { return index >= 0 && index < 3 ? kHeights[index] : 0; }
