// Verification error rates of the world model and the enrollment path on a folder of subjects.
//
//   verification_accuracy DIR --cascade FILE --world FILE [--enroll N] [--pick spread|best] [--modulo M]
//                [--scale S] [--step-y F] [--threshold T]
//
// DIR holds one folder per subject. A subject folder holds either images (the first half enrolls,
// the rest are probes) or session sub-folders (the first session enrolls, the others are probes),
// as ../shared/data/umist and ../shared/data/video do. Faces are found as at run time: sessions are
// clips that run through the frontal tracker (one face, every frame scanned unless --modulo is
// given), still images go to the same detector set-up one at a time. Each user is enrolled from at
// most N (10) faces, spread evenly over the enrollment frames that have one or (--pick best) those
// with the highest detection scores (a store of up to 10 samples, MAP adaptation),
// then scored, as the verification filter scores, on its own probes and every other subject's.
// --scale S first scales every image by S (ipScale_yx), as a camera of that size would give it.
// --step-y F sets the tracker's vertical scan step (the configuration's "stepYfactor"), --threshold T
// its detector threshold ("Threshold", 0 by default). --gate B probes only the faces that the
// verification filter's face gate passes as the program sets it up: a detection score of B
// ("GoodDetectionConfidence") or more, held over two consecutive frames (still images: the score only).
// Prints EER, false accepts and false rejects at --accept (0.4) and --adaptation (0.2), the thresholds
// at which at most 0.1% and 1% of impostor faces are accepted,
// the ten highest impostor scores with their probe frames and boxes, and milliseconds per
// verification; the last line is "EER E%".
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/facekit/FaceCrops.h"
#include "verification/FaceGate.h"
#include "visionlib/DiagonalGMM.h"

using namespace facekit;
using Clock = std::chrono::steady_clock;

namespace {

struct Subject {
    std::string name;
    std::vector<FoundFace> enroll, probes;
    int enrollFrames = 0, probeFrames = 0;
};

// Share of scores at or above t.
double above(const std::vector<float>& s, float t) {
    size_t n = 0;
    for (float v : s)
        n += v >= t;
    return s.empty() ? 0 : (double)n / s.size();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DIR --cascade FILE --world FILE [--enroll N] [--modulo M]\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    std::string cascade, worldPath;
    int enrollCount = 10;
    bool pickBest = false;
    TrackOptions track;
    float accept = 0.4f, adaptation = 0.2f;
    float gateBar = -INFINITY;  // no gate
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--cascade") cascade = argv[i + 1];
        else if (a == "--world") worldPath = argv[i + 1];
        else if (a == "--enroll") enrollCount = std::atoi(argv[i + 1]);
        else if (a == "--modulo") track.modulo = std::atoi(argv[i + 1]);
        else if (a == "--scale") track.scale = (float)std::atof(argv[i + 1]);
        else if (a == "--step-y") track.step_y_factor = (float)std::atof(argv[i + 1]);
        else if (a == "--threshold") track.threshold = (float)std::atof(argv[i + 1]);
        else if (a == "--pick") pickBest = std::strcmp(argv[i + 1], "best") == 0;
        else if (a == "--accept") accept = (float)std::atof(argv[i + 1]);
        else if (a == "--adaptation") adaptation = (float)std::atof(argv[i + 1]);
        else if (a == "--gate") gateBar = (float)std::atof(argv[i + 1]);
        else {
            std::fprintf(stderr, "unknown argument %s\n", a.c_str());
            return 2;
        }
    }
    if (cascade.empty() || worldPath.empty() || enrollCount < 1 || enrollCount > 10 || track.modulo < 1) {
        std::fprintf(stderr, "usage: %s DIR --cascade FILE --world FILE [--enroll N (1..10)] [--modulo M]\n", argv[0]);
        return 2;
    }

    std::vector<Subject> subjects;
    for (const std::string& folder : subFolders(dir)) {
        Subject s;
        s.name = folder.substr(folder.rfind('/') + 1);
        const std::string& name = s.name;
        const std::vector<std::string> sessions = subFolders(folder);
        if (!sessions.empty()) {
            for (size_t k = 0; k < sessions.size(); k++) {
                const std::vector<std::string> frames = facekit::listPgm(sessions[k]);
                std::vector<FoundFace> faces = trackClip(frames, cascade, track);
                if (k > 0 && std::isfinite(gateBar)) faces = gatedFaces(faces, gateBar, vision::kFaceGateHeldFrames);
                (k == 0 ? s.enrollFrames : s.probeFrames) += (int)frames.size();
                std::vector<FoundFace>& into = k == 0 ? s.enroll : s.probes;
                into.insert(into.end(), faces.begin(), faces.end());
            }
        } else {
            const std::vector<std::string> images = facekit::listPgm(folder);
            const size_t half = images.size() / 2;
            std::vector<std::string> first(images.begin(), images.begin() + half), rest(images.begin() + half, images.end());
            s.enroll = detectStills(first, cascade, 0.0f, track.scale);
            s.probes = detectStills(rest, cascade, 0.0f, track.scale);
            if (std::isfinite(gateBar)) s.probes = gatedFaces(s.probes, gateBar, 1);
            s.enrollFrames = (int)first.size();
            s.probeFrames = (int)rest.size();
        }
        if (s.enroll.empty() || s.probes.empty()) {
            std::printf("%s: left out (%zu enrollment faces, %zu probe faces)\n", name.c_str(), s.enroll.size(),
                        s.probes.size());
            continue;
        }
        subjects.push_back(std::move(s));
    }
    if (subjects.size() < 2) {
        std::fprintf(stderr, "fewer than two usable subjects in %s\n", dir.c_str());
        return 1;
    }

    vision::FaceVerif_GmmDCTmod2 world(worldPath.c_str(), 0);
    std::printf("# %s: %zu subjects, world model %s (%d Gaussians), cascade %s, enroll %d (%s), modulo %d, scale %g, "
                "gate %g\n",
                dir.c_str(), subjects.size(), worldPath.c_str(), world.gmm->n_gaussians, cascade.c_str(),
                enrollCount, pickBest ? "best" : "spread", track.modulo, (double)track.scale, (double)gateBar);

    // Probe frames loaded once.
    std::vector<std::vector<vision::ImageGray*>> probeImages(subjects.size());
    for (size_t s = 0; s < subjects.size(); s++)
        for (const FoundFace& f : subjects[s].probes) {
            probeImages[s].push_back(f.image().release());
        }

    std::vector<float> genuine, impostor;
    // The highest impostor scores, with whose model and which probe gave them.
    struct Worst {
        float score;
        size_t user, subject, probe;
    };
    std::vector<Worst> worst;
    // Probe sets in which at least one face reaches the threshold: one unlock in one-shot mode.
    int ownUnlocks = 0, otherUnlocks = 0;
    double scoreMs = 0, enrollMs = 0;
    long verifications = 0;
    for (size_t u = 0; u < subjects.size(); u++) {
        const std::vector<FoundFace> chosen =
            pickBest ? best(subjects[u].enroll, enrollCount) : spread(subjects[u].enroll, enrollCount);
        const auto e0 = Clock::now();
        std::unique_ptr<vision::FaceVerif_MapGmmDCTmod2> user = enrollUser(&world, chosen);
        enrollMs += std::chrono::duration<double, std::milli>(Clock::now() - e0).count();
        Scorer scorer(user.get());
        std::vector<float> own, others;
        for (size_t s = 0; s < subjects.size(); s++) {
            bool unlocked = false;
            for (size_t p = 0; p < subjects[s].probes.size(); p++) {
                const auto t0 = Clock::now();
                const float v = scorer.score(probeImages[s][p], subjects[s].probes[p]);
                scoreMs += std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
                verifications++;
                (s == u ? own : others).push_back(std::isnan(v) ? -INFINITY : v);
                if (s != u && !std::isnan(v)) worst.push_back({v, u, s, p});
                unlocked = unlocked || v >= accept;
            }
            (s == u ? ownUnlocks : otherUnlocks) += unlocked;
        }
        double meanOwn = 0, meanOthers = 0;
        for (float v : own) meanOwn += v;
        for (float v : others) meanOthers += v;
        std::printf("%s: faces in %d/%d enrollment frames (%zu used), %d/%d probe frames; own mean %.3f accepted %.1f%%,"
                    " others mean %.3f accepted %.2f%%\n",
                    subjects[u].name.c_str(), (int)subjects[u].enroll.size(), subjects[u].enrollFrames, chosen.size(),
                    (int)own.size(), subjects[u].probeFrames, meanOwn / own.size(), 100 * above(own, accept),
                    meanOthers / others.size(), 100 * above(others, accept));
        genuine.insert(genuine.end(), own.begin(), own.end());
        impostor.insert(impostor.end(), others.begin(), others.end());
    }
    for (auto& list : probeImages)
        for (vision::ImageGray* img : list)
            delete img;

    // One threshold for every user, as the system has: the EER where false accepts meet false rejects.
    std::vector<float> all(genuine);
    all.insert(all.end(), impostor.begin(), impostor.end());
    std::sort(all.begin(), all.end());
    double eer = 1, eerT = 0, best = 2;
    for (float t : all) {
        const double far = above(impostor, t), frr = 1 - above(genuine, t);
        if (std::fabs(far - frr) < best) {
            best = std::fabs(far - frr);
            eer = (far + frr) / 2;
            eerT = t;
        }
    }
    std::printf("genuine scores %zu, impostor scores %zu\n", genuine.size(), impostor.size());
    {
        std::vector<float> g(genuine), im(impostor);
        std::sort(g.begin(), g.end());
        std::sort(im.begin(), im.end());
        auto at = [](const std::vector<float>& v, double q) { return v.empty() ? 0.0f : v[(size_t)(q * (v.size() - 1))]; };
        std::printf("genuine score percentiles 50/90/99: %.3f %.3f %.3f; impostor 50/99/99.9: %.3f %.3f %.3f\n",
                    at(g, 0.5), at(g, 0.9), at(g, 0.99), at(im, 0.5), at(im, 0.99), at(im, 0.999));
    }
    for (float t : {accept, adaptation})
        std::printf("threshold %.3f: false accepts %.2f%% (%ld of %zu), false rejects %.2f%% (%ld of %zu)\n", t,
                    100 * above(impostor, t), std::lround(above(impostor, t) * impostor.size()), impostor.size(),
                    100 * (1 - above(genuine, t)), std::lround((1 - above(genuine, t)) * genuine.size()),
                    genuine.size());
    std::sort(worst.begin(), worst.end(), [](const Worst& a, const Worst& b) { return a.score > b.score; });
    for (size_t i = 0; i < worst.size() && i < 10; i++) {
        const Worst& w = worst[i];
        const FoundFace& f = subjects[w.subject].probes[w.probe];
        std::printf("impostor score %.3f: model %s, %s box %d %d %d %d\n", w.score, subjects[w.user].name.c_str(),
                    f.path.c_str(), f.bbx_x, f.bbx_y, f.bbx_width, f.bbx_height);
    }
    std::printf("one-shot at %.3f: %d of %zu users accepted on their own probes, %d of %zu probe sets of others accepted\n",
                accept, ownUnlocks, subjects.size(), otherUnlocks, subjects.size() * (subjects.size() - 1));
    std::printf("EER threshold %.3f\n", eerT);
    // Calibration: the lowest threshold (in thousandths, as the configuration holds it) at which at most
    // the given share of impostor faces is accepted.
    const float highest = impostor.empty() ? 0 : *std::max_element(impostor.begin(), impostor.end());
    for (double share : {0.001, 0.01}) {
        int thousandths = (int)std::floor(highest * 1000.0f) + 1;  // no impostor accepted
        while (above(impostor, (thousandths - 1) / 1000.0f) <= share) thousandths--;
        const float at = thousandths / 1000.0f;
        std::printf("false accepts at most %.1f%%: threshold %.3f (false accepts %.2f%%, false rejects %.2f%%)\n",
                    100 * share, at, 100 * above(impostor, at), 100 * (1 - above(genuine, at)));
    }
    std::printf("enrollment %.1f ms per user, verification %.2f ms per face\n", enrollMs / subjects.size(),
                scoreMs / verifications);
    std::printf("EER %.2f%%\n", 100 * eer);
    return 0;
}
