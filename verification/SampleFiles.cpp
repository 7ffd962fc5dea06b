#include "verification/SampleFiles.h"

#include <cstdio>

namespace vision {

void removeSampleFiles(const std::string& prefix) {
    for (const char* suffix : kSampleSuffixes) std::remove((prefix + suffix).c_str());
}

}  // namespace vision
