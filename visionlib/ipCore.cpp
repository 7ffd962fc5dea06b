#include "visionlib/ipCore.h"

#include "visionlib/Message.h"

namespace vision {

ipCore::ipCore(const char* coding_) : output(nullptr), coding(nullptr), coding_id(-1), n_planes(0) {
    addBoolOption("verbose", &verbose, false, "verbose mode");
    coding_id = codingId(coding_);
    if (coding_id < 0) error("ipCore::ipCore(%s) coding not supported", coding_ ? coding_ : "(null)");
    coding = codingName(coding_id);
    n_planes = codingPlanes(coding_id);
}

ipCore::~ipCore() {}

void ipCore::init() {
    if (verbose) message("ipCore::init() not needed.");
}

void ipCore::process(Sequence* input) { warning("ipCore::process() not defined yet."); }

int ipCore::getOutputWidth() {
    warning("The output is not an image (width = -1).");
    return -1;
}

int ipCore::getOutputHeight() {
    warning("The output is not an image (height = -1).");
    return -1;
}

void ipCore::setOutputSize(int width, int height) { warning("Setting width/height output not needed."); }

}  // namespace vision
