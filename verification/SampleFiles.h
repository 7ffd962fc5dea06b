#pragma once
// The files of one face sample, named by a prefix: the frame it was taken from, the description of
// where the face lies in it, and the cut-out face (kept beside a near miss). The enrollment page's
// capture and the unlock screen's near miss are both called kLastFace.
#include <string>

namespace vision {

constexpr const char* kLastFace = "lastface";
constexpr const char* kSampleFrame = ".raw.pgm";
constexpr const char* kSampleDescription = ".info.txt";
constexpr const char* kSampleCrop = ".crop.pgm";
constexpr const char* kSampleSuffixes[] = {kSampleFrame, kSampleDescription, kSampleCrop};

inline std::string sampleFramePath(const std::string& prefix) { return prefix + kSampleFrame; }
inline std::string sampleDescriptionPath(const std::string& prefix) { return prefix + kSampleDescription; }

// Deletes the sample's files; missing ones are no error.
void removeSampleFiles(const std::string& prefix);

}  // namespace vision
