#pragma once
// The user's settings: delays in milliseconds and scores as the verifier's and the detector's numbers
// in memory, seconds and decimals in the file ("Tarvelo.cfg", INI groups "/Application", "/Verification", "/Camera",
// "/FaceDetector"), read and written in the C numeric locale whatever the user's locale.
#include <cstdint>
#include <string>

class Logger;
namespace vision {
class FaceTrackingSettings;
}

// The range of both delays in seconds, as the parameters page offers it; a load clamps to it.
constexpr int kMinDelaySeconds = 1;
constexpr int kMaxDelaySeconds = 10000;

class Configuration {
public:
    std::string version;
    uint32_t idleDelay;  // ms
    // Scores; the file's decimals are read to whole thousandths.
    float maxDetectionConfidence;
    float goodDetectionConfidence;
    float badDetectionConfidence;
    float maxVerificationConfidence;
    float goodVerificationConfidence;
    float badVerificationConfidence;  // a face is accepted from this score
    float adaptationThreshold;        // never above badVerificationConfidence after a load
    int nextUserId;
    uint32_t verificationIdleDelay;  // ms
    std::string worldModel;
    int detectorType;  // 1 frontal, 2 multi-view
    std::string detectorModel;
    float detectorThreshold;
    bool detectorNormalized;
    int maxFaces;
    vision::FaceTrackingSettings* trackingSettings;  // owned
    std::string cameraName;  // empty: none chosen
    int formatIndex;         // 0 "320x240", 1 "480x360", 2 "640x480"

    Configuration();
    ~Configuration();
    Configuration(const Configuration&) = delete;
    Configuration& operator=(const Configuration&) = delete;

    // Fails only on a missing or unknown "/FaceDetector" "Type" (so also on a missing file); the keys
    // read before it keep their new values. Values that are not numbers or out of range are told to
    // the logger, when there is one.
    bool load(const std::string& path, Logger* logger = nullptr);
    // Fails on a detector type other than 1 or 2 (the groups before it stay written), a refused write,
    // or a file that cannot be written back.
    bool save(const std::string& path);

    std::string getFormat() const;
    // Another text gives index 3.
    void setFormat(const std::string& format);
    unsigned getFormatWidth() const;
    unsigned getFormatHeight() const;

    static std::string formatText(int index);
    static unsigned formatWidth(int index);
    static unsigned formatHeight(int index);
};
