#include "detection/TrackerDetectors.h"

#include "detection/PatternMerger.h"
#include "visionlib/Allocator.h"

namespace vision {

ScanRange::ScanRange(const FaceTrackingSettings& s)
    : min_size(s.min_size.value), max_size(s.max_size.value), step_x_factor(s.step_x_factor.value),
      step_y_factor(s.step_y_factor.value), scale_factor(s.scale_factor.value) {}

namespace {

MSPatternDetect* buildScanner(Allocator* owner, ipSubWindow* classifier, PatternFusion* fusion,
                              ipIntegralImage* integral, int width, int height, const ScanRange& r, real mean_min,
                              real mean_max, real stdv_min, real stdv_max, bool verbose) {
    MSPatternDetect* detector = new (owner)
        MSPatternDetect(classifier, fusion, integral, width, height, 19, 19, r.min_size, r.max_size, r.step_x_factor,
                        r.step_y_factor, r.scale_factor, mean_min, mean_max, stdv_min, stdv_max, nullptr, 0, 1.0f,
                        r.max_patterns, verbose);
    detector->setBoolOption("force sw multiple mw", r.force_multiple);
    detector->init();
    return detector;
}

}  // namespace

ViewPatternFusion* buildFrontalFusion(Allocator* owner, float threshold, int capacity) {
    meanRectPatternMerger* merger = new (owner) meanRectPatternMerger();
    ViewPatternFusion* fusion = new (owner) ViewPatternFusion(merger, 0, capacity);
    fusion->setParameters(0.9f, threshold, true, 1.5f);
    return fusion;
}

FrontalDetector buildFrontalDetector(Allocator* owner, const char* model_file, float threshold, int width,
                                     int height, const ScanRange& range, bool verbose, ipIntegralImage* integral,
                                     int fusion_capacity) {
    FrontalDetector d{};
    if (fusion_capacity > 0) d.fusion = buildFrontalFusion(owner, threshold, fusion_capacity);
    d.integral = integral ? integral : new (owner) ipIntegralImage(width, height, "gray", true);
    d.classifier = new (owner) ipSWmctMS(d.integral->sums(), width, height, 19, 19, model_file, threshold, false);
    d.detector = buildScanner(owner, d.classifier, d.fusion, d.integral, width, height, range, 0.041f, 0.89f,
                              0.0204354f, 0.382121f, verbose);
    return d;
}

MultiViewDetector buildMultiViewDetector(Allocator* owner, const char* model_directory, float threshold,
                                         bool normalised, int width, int height, const ScanRange& range,
                                         bool verbose, ipIntegralImage* integral) {
    MultiViewDetector d{};
    maxRectPatternMerger* strongest = new (owner) maxRectPatternMerger();
    d.final_fusion = new (owner) ViewPatternFusion(strongest, -1, 1000);
    d.final_fusion->setParameters(0.1f, threshold, true, 1.5f);
    meanRectPatternMerger* mean = new (owner) meanRectPatternMerger();
    d.view_fusion = new (owner) MultiViewPatternFusion(mean, 20, 100);
    d.view_fusion->setParameters(0.2f, threshold, true, 1.0f);
    d.integral = integral ? integral : new (owner) ipIntegralImage(width, height, "gray", true);
    d.tree = loadMultiViewTree(model_directory, normalised, d.integral->sums(), width, height, owner, false);
    d.detector = buildScanner(owner, d.tree, d.view_fusion, d.integral, width, height, range, 0.04f, 0.89f, 0.018f,
                              0.382f, verbose);
    return d;
}

}  // namespace vision
