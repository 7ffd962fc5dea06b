#include "tools/train_cascade/Scan.h"

#include "detection/PatternDetect.h"
#include "detection/PatternFusion.h"
#include "detection/PatternMerger.h"
#include "detection/ipSWmctMS.h"
#include "detection/ipSWmvfaceBtree.h"
#include "visionlib/Allocator.h"

namespace cascade_training {

std::vector<Window> scanFrame(FrameCodes& frame, const std::string& cascade, const ScanSettings& s) {
    const int w = frame.width(), h = frame.height();
    std::vector<Window> out;
    if (w < 23 || h < 23) return out;
    // The frame's own integral image: the detector fills it again from the same frame.
    vision::ipIntegralImage& ii = *frame.integral();
    vision::ipSWmctMS classifier(ii.sums(), w, h, 19, 19, cascade.c_str(), s.threshold, false);
    vision::meanRectPatternMerger merger;
    vision::ViewPatternFusion fusion(&merger, 0, s.fusion_capacity);
    fusion.setParameters(0.9f, s.threshold, true, 1.5f);
    vision::MSPatternDetect detector(&classifier, s.fuse ? &fusion : nullptr, &ii, w, h, 19, 19, s.min_size,
                                     std::min(s.max_size, std::min(w, h)), s.step_x, s.step_y, s.scale, 0.041f,
                                     0.89f, 0.0204354f, 0.382121f, nullptr, 0, 1.0f, s.capacity, false);
    detector.setBoolOption("force sw multiple mw", s.force_multiple);
    detector.init();
    detector.process(frame.normalised());
    for (int i = 0; i < detector.n_patterns; ++i) {
        const vision::Pattern* p = detector.patterns[i];
        out.push_back({p->x, p->y, p->w, p->h, p->confidence, p->activation});
    }
    return out;
}

std::vector<ViewWindow> scanFrameMultiView(FrameCodes& frame, const std::string& directory, const ScanSettings& s) {
    const int w = frame.width(), h = frame.height();
    std::vector<ViewWindow> out;
    if (w < 23 || h < 23) return out;
    vision::Allocator owner;
    vision::ipIntegralImage& ii = *frame.integral();
    vision::ipSWmvfaceBtree* tree = vision::loadMultiViewTree(directory.c_str(), false, ii.sums(), w, h, &owner);
    vision::meanRectPatternMerger mean;
    vision::MultiViewPatternFusion views(&mean, 20, 100);
    views.setParameters(0.2f, s.threshold, true, 1.0f);
    vision::maxRectPatternMerger strongest;
    vision::ViewPatternFusion final_fusion(&strongest, -1, 1000);
    final_fusion.setParameters(0.1f, s.threshold, true, 1.5f);
    vision::MSPatternDetect detector(tree, &views, &ii, w, h, 19, 19, s.min_size, std::min(s.max_size, std::min(w, h)),
                                     s.step_x, s.step_y, s.scale, 0.04f, 0.89f, 0.018f, 0.382f, nullptr, 0, 1.0f,
                                     s.capacity, false);
    detector.setBoolOption("force sw multiple mw", s.force_multiple);
    detector.init();
    detector.process(frame.normalised());
    if (detector.n_patterns == 0 || !final_fusion.fuse(detector.n_patterns, detector.patterns)) return out;
    for (int i = 0; i < final_fusion.count; ++i) {
        const vision::Pattern* p = final_fusion.output[i];
        if (p->activation <= 0) continue;
        ViewWindow v;
        v.x = p->x, v.y = p->y, v.w = p->w, v.h = p->h, v.confidence = p->confidence, v.activation = p->activation;
        v.view = p->view;
        out.push_back(v);
    }
    return out;
}

}  // namespace cascade_training
