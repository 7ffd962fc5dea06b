#include "tools/facekit/FaceCrops.h"
#include "tools/facekit/Matching.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include <dirent.h>
#include <sys/stat.h>

#include "detection/FaceTrackerAPI.h"
#include "detection/settings/FaceTrackingSettings.h"
#include "verification/FaceGate.h"
#include "visionlib/DiagonalGMM.h"
#include "visionlib/DiskXFile.h"
#include "visionlib/Message.h"
#include "visionlib/Random.h"
#include "visionlib/Trainer.h"
#include "visionlib/ipScale_yx.h"

namespace facekit {

using namespace vision;

std::vector<Window> detectFaces(const GrayFrame& frame, const std::string& cascade, int minSize) {
    FrameCodes codes(frame);
    ScanSettings s;
    s.min_size = minSize;
    s.max_size = frame.height;
    s.threshold = 0;
    std::vector<Window> found = scanFrame(codes, cascade, s);
    std::stable_sort(found.begin(), found.end(),
                     [](const Window& a, const Window& b) { return a.confidence > b.confidence; });
    return found;
}

void faceFromWindow(const Window& w, FaceInfo* face) {
    face->reset();
    face->setFromPattern(w);
    face->outplane = false;
    face->inplane = true;
    face->angle = 0;
}

std::unique_ptr<ImageGray> toImage(const GrayFrame& frame) {
    std::unique_ptr<ImageGray> image(new ImageGray(frame.width, frame.height));
    image->copyFrom(frame.width, frame.height, frame.pixels.data(), "gray");
    return image;
}

CropCutter::CropCutter() : identity_(5000, "training", "None", "None", 2000, 'M') {}

FrontalFaceData* CropCutter::cut(ImageGray* frame, FaceInfo* face) {
    release();
    std::unique_ptr<FrontalFaceData>& store = stores_[{frame->width, frame->height}];
    if (!store)
        store.reset(new FrontalFaceData(&identity_, frame->width, frame->height, 1, "", false, false, 0, false));
    store->addFaceData(frame, face, nullptr);
    last_ = store.get();
    return last_;
}

void CropCutter::release() {
    if (last_ && last_->getNumberOfFaces() > 0)
        last_->removeFaceData(0);
    last_ = nullptr;
}

FeatureSet::FeatureSet() : features_(0) {}

FeatureSet::~FeatureSet() {
    delete data_;
    for (Sequence* s : examples_)
        delete s;
}

void FeatureSet::add(ImageGray* frame, FaceInfo* face) {
    FrontalFaceData* store = cutter_.cut(frame, face);
    features_.computefeatures(store);
    MemoryDataSet* f = features_.features;
    for (int e = 0; e < f->n_real_examples; e++) {
        Sequence* copy = new Sequence(f->inputs_array[e]->n_frames, f->inputs_array[e]->frame_size);
        copy->copy(f->inputs_array[e]);
        examples_.push_back(copy);
    }
    cutter_.release();
}

MemoryDataSet* FeatureSet::dataSet() {
    delete data_;
    data_ = new MemoryDataSet();
    data_->setInputs(examples_.data(), (int)examples_.size());
    return data_;
}

GrayFrame rescaled(const GrayFrame& frame, float scale, float pad) {
    const int w = std::max(1, (int)(frame.width * scale + 0.5f)), h = std::max(1, (int)(frame.height * scale + 0.5f));
    GrayFrame small;
    small.width = w;
    small.height = h;
    small.pixels.resize((size_t)w * h);
    if (w == frame.width && h == frame.height) {
        small.pixels = frame.pixels;
    } else {
        std::unique_ptr<ImageGray> image = toImage(frame);
        ipScale_yx scaler(frame.width, frame.height, "gray", w, h);
        scaler.process(image.get());
        for (int i = 0; i < w * h; i++) {
            const int v = (int)(scaler.output->frames[0][i] + 0.5f);
            small.pixels[i] = (unsigned char)(v < 0 ? 0 : v > 255 ? 255 : v);
        }
    }
    const int px = (int)(w * pad + 0.5f), py = (int)(h * pad + 0.5f);
    GrayFrame out;
    out.width = w + 2 * px;
    out.height = h + 2 * py;
    out.pixels.resize((size_t)out.width * out.height);
    for (int y = 0; y < out.height; y++)
        for (int x = 0; x < out.width; x++)
            out.pixels[(size_t)y * out.width + x] =
                small.at(std::min(std::max(x - px, 0), w - 1), std::min(std::max(y - py, 0), h - 1));
    return out;
}

bool pictureFace(const GrayFrame& original, float scale, float minShare, const std::string& cascade, GrayFrame* frame,
                 Window* window) {
    // The picture is the face: a margin of its own edge pixels lets windows reach past it.
    *frame = rescaled(original, scale, 0.25f);
    std::vector<Window> found = detectFaces(*frame, cascade);
    if (found.empty() || found[0].w < minShare * original.width * scale)
        return false;
    *window = found[0];
    return true;
}

int collectPeople(const std::string& dir, const std::string& cascade, FeatureSet* set, int limit, float minShare,
                  const std::vector<float>& scales) {
    int added = 0;
    for (const std::string& person : subFolders(dir)) {
        std::vector<std::string> images = listPgm(person);
        if (limit > 0 && (int)images.size() > limit) {
            // Spread over the folder: the people turn from profile to frontal along it.
            std::vector<std::string> picked;
            for (int i = 0; i < limit; i++)
                picked.push_back(images[(size_t)i * images.size() / limit]);
            images.swap(picked);
        }
        for (const std::string& path : images) {
            GrayFrame original;
            if (!loadGray(path, &original))
                continue;
            for (float scale : scales) {
                GrayFrame frame;
                Window window;
                if (!pictureFace(original, scale, minShare, cascade, &frame, &window))
                    continue;
                std::unique_ptr<ImageGray> image = toImage(frame);
                FaceInfo face;
                faceFromWindow(window, &face);
                set->add(image.get(), &face);
                added++;
            }
        }
    }
    return added;
}

int collectAnnotated(const std::string& dir, const std::string& cascade, FeatureSet* set, int limit, int minSize) {
    std::ifstream boxes(dir + "/boxes.txt");
    struct Box { float x, y, w, h; };
    std::map<std::string, std::vector<Box>> truth;
    std::vector<std::string> order;
    std::string line;
    while (std::getline(boxes, line)) {
        std::istringstream in(line);
        std::string name;
        Box b;
        if (!(in >> name >> b.x >> b.y >> b.w >> b.h))
            continue;
        if (!truth.count(name))
            order.push_back(name);
        truth[name].push_back(b);
    }
    int added = 0;
    for (const std::string& name : order) {
        GrayFrame frame;
        if (!loadGray(dir + "/" + name, &frame))
            continue;
        std::vector<Window> found = detectFaces(frame, cascade, minSize);
        std::unique_ptr<ImageGray> image;
        for (const Box& b : truth[name]) {
            // found is best first: the first match is the best one.
            for (const Window& w : found) {
                const float cx = w.x + w.w * 0.5f, cy = w.y + w.h * 0.5f;
                const float ratio = w.w / b.w;
                if (cx < b.x || cx > b.x + b.w || cy < b.y || cy > b.y + b.h || ratio < 0.5f || ratio > 2.0f)
                    continue;
                if (!image)
                    image = toImage(frame);
                FaceInfo face;
                faceFromWindow(w, &face);
                set->add(image.get(), &face);
                added++;
                break;
            }
            if (limit > 0 && added >= limit)
                return added;
        }
    }
    return added;
}

std::vector<size_t> pickWebcamFaces(const std::vector<EyeFace>& faces, const WebcamFaces& o) {
    std::vector<size_t> chosen;
    for (size_t i = 0; i < faces.size(); i++) {
        const EyeFace& f = faces[i];
        if (std::hypot(f.eyes.right_x - f.eyes.left_x, f.eyes.right_y - f.eyes.left_y) >= o.min_source_eyes)
            chosen.push_back(i);
    }
    if (o.limit > 0 && (int)chosen.size() > o.limit) {
        std::vector<size_t> picked;
        for (int i = 0; i < o.limit; i++)
            picked.push_back(chosen[(size_t)i * chosen.size() / o.limit]);
        chosen.swap(picked);
    }
    return chosen;
}

int collectWebcamFaces(const std::vector<EyeFace>& faces, const std::string& cascade, FeatureSet* set,
                       const WebcamFaces& o) {
    const std::vector<size_t> chosen = pickWebcamFaces(faces, o);
    int added = 0;
    for (size_t i = 0; i < chosen.size(); i++) {
        GrayFrame frame;
        Window window;
        if (!webcamFace(faces[chosen[i]], i, cascade, o, &frame, &window))
            continue;
        std::unique_ptr<ImageGray> image = toImage(frame);
        FaceInfo face;
        faceFromWindow(window, &face);
        set->add(image.get(), &face);
        added++;
    }
    return added;
}

bool webcamFace(const EyeFace& f, size_t i, const std::string& cascade, const WebcamFaces& o, GrayFrame* camera,
                Window* window) {
    GrayFrame original;
    if (!loadGray(f.path, &original))
        return false;
    const double eyes = std::hypot(f.eyes.right_x - f.eyes.left_x, f.eyes.right_y - f.eyes.left_y);
    if (eyes <= 0)
        return false;
    // Eye distances spread evenly over the range (golden-ratio steps), the same for every run.
    const double u = std::fmod(i * 0.6180339887498949, 1.0);
    const float target = (float)(o.min_eyes + u * (o.max_eyes - o.min_eyes));
    const bool soft = i % 2 == 1;
    const float pad = 0.25f;
    const float scale = target / (float)eyes;
    // The margin repeats the edge pixels so that windows can reach past a tight picture.
    GrayFrame frame = rescaled(original, scale, pad);
    const int smallW = std::max(1, (int)(original.width * scale + 0.5f));
    const int smallH = std::max(1, (int)(original.height * scale + 0.5f));
    const float sx = (float)smallW / original.width, sy = (float)smallH / original.height;
    const float px = (float)(int)(smallW * pad + 0.5f), py = (float)(int)(smallH * pad + 0.5f);
    const int paddedWidth = frame.width;
    if (soft)
        frame = rescaled(frame, 2.0f, 0.0f);
    const float k = (float)frame.width / paddedWidth;
    Eyes at;
    at.left_x = (f.eyes.left_x * sx + px) * k;
    at.left_y = (f.eyes.left_y * sy + py) * k;
    at.right_x = (f.eyes.right_x * sx + px) * k;
    at.right_y = (f.eyes.right_y * sy + py) * k;
    const std::vector<Window> found = detectFaces(frame, cascade);
    for (const Window& w : found) {
        const double miss = eyeError(w, at);
        if (miss < 0 || miss > o.max_eye_error)
            continue;
        *camera = frame;
        *window = w;
        return true;
    }
    return false;
}

std::unique_ptr<FaceVerif_GmmDCTmod2> trainWorldModel(MemoryDataSet* data, const TrainOptions& o) {
    const int D = 18;
    const int G = o.gaussians;
    std::vector<Sequence*> examples(data->inputs_array, data->inputs_array + data->n_real_examples);
    long frames = 0;
    std::vector<double> sum(D, 0.0), sq(D, 0.0);
    for (Sequence* s : examples)
        for (int t = 0; t < s->n_frames; t++, frames++)
            for (int j = 0; j < D; j++) {
                const double x = s->frames[t][j];
                sum[j] += x;
                sq[j] += x * x;
            }
    if (frames < G)
        error("trainWorldModel: %ld feature frames cannot seed %d Gaussians.", frames, G);
    std::vector<real> variance(D), floor(D);
    for (int j = 0; j < D; j++) {
        const double m = sum[j] / frames;
        double v = sq[j] / frames - m * m;
        if (v <= 0)
            v = 1;
        variance[j] = (real)v;
        floor[j] = (real)(o.floorFactor * v);
    }

    std::unique_ptr<FaceVerif_GmmDCTmod2> world(new FaceVerif_GmmDCTmod2(D, G, 0));
    DiagonalGMM* gmm = world->gmm;
    gmm->setVarThreshold(floor.data());
    // Means on G distinct frames drawn with the seeded generator, so that a seed repeats a model.
    Random::setSeed(o.seed);
    std::vector<char> used((size_t)frames, 0);
    std::vector<long> offsets;  // first global frame index of each example
    long at = 0;
    for (Sequence* s : examples) {
        offsets.push_back(at);
        at += s->n_frames;
    }
    for (int g = 0; g < G; g++) {
        long k;
        do {
            k = (long)(Random::uniform() * frames);
            if (k >= frames)
                k = frames - 1;
        } while (used[(size_t)k]);
        used[(size_t)k] = 1;
        const size_t e = std::upper_bound(offsets.begin(), offsets.end(), k) - offsets.begin() - 1;
        const real* x = examples[e]->frames[k - offsets[e]];
        gmm->log_weights[g] = (real)-std::log((double)G);
        for (int j = 0; j < D; j++) {
            gmm->means[g][j] = x[j];
            gmm->var[g][j] = variance[j];
        }
    }

    EMTrainer trainer(gmm);
    trainer.max_iter = o.maxIterations;
    trainer.end_accuracy = o.endAccuracy;
    trainer.viterbi = false;
    trainer.verbose = o.verbose;
    trainer.train(data, nullptr);
    return world;
}

double meanFrameLogLikelihood(DiagonalGMM* gmm, MemoryDataSet* data) {
    double total = 0;
    long frames = 0;
    for (int e = 0; e < data->n_real_examples; e++) {
        Sequence* s = data->inputs_array[e];
        gmm->prepareForward(s);
        total += gmm->logProbability(s);
        frames += s->n_frames;
    }
    return frames ? total / frames : 0;
}

void saveWorldModel(FaceVerif_GmmDCTmod2* world, const std::string& path) {
    DiskXFile file(path.c_str(), "w");
    world->saveXFile(&file);
}


void FoundFace::toInfo(FaceInfo* face) const {
    face->reset();
    face->bbx_x = bbx_x;
    face->bbx_y = bbx_y;
    face->bbx_width = bbx_width;
    face->bbx_height = bbx_height;
    face->left_eye_x = left_eye_x;
    face->left_eye_y = left_eye_y;
    face->right_eye_x = right_eye_x;
    face->right_eye_y = right_eye_y;
    face->score = score;
    face->inplane = true;
}

bool loadFrame(const std::string& path, float scale, GrayFrame* frame) {
    if (!loadGray(path, frame))
        return false;
    if (scale != 1.0f)
        *frame = rescaled(*frame, scale, 0.0f);
    return true;
}

std::unique_ptr<ImageGray> loadImage(const std::string& path, float scale) {
    GrayFrame frame;
    if (!loadFrame(path, scale, &frame))
        return nullptr;
    return toImage(frame);
}

static FoundFace found(const std::string& path, float scale, const FaceInfo& f) {
    return FoundFace{path,         scale,        f.bbx_x,       f.bbx_y,       f.bbx_width,   f.bbx_height,
                     f.left_eye_x, f.left_eye_y, f.right_eye_x, f.right_eye_y, (float)f.score};
}

std::vector<FoundFace> trackClip(const std::vector<std::string>& frames, const std::string& cascade,
                                 const TrackOptions& options) {
    std::vector<FoundFace> out;
    const float scale = options.scale;
    GrayFrame first;
    if (frames.empty() || !loadFrame(frames[0], scale, &first))
        return out;
    const int w = first.width, h = first.height;
    FaceTrackingSettings settings(1, w, h);
    settings.modulo_detection.value = options.modulo;
    setScanSteps(settings, 0, options.step_y_factor);
    FaceTrackerAPI_MCTMSMFF_2 tracker(cascade.c_str(), options.threshold, &settings, false);
    std::vector<unsigned char> bgr((size_t)w * h * 3);
    for (size_t k = 0; k < frames.size(); k++) {
        const std::string& path = frames[k];
        GrayFrame frame;
        if (!loadFrame(path, scale, &frame) || frame.width != w || frame.height != h)
            continue;
        for (size_t i = 0; i < frame.pixels.size(); i++)
            bgr[3 * i] = bgr[3 * i + 1] = bgr[3 * i + 2] = frame.pixels[i];
        tracker.processImageBGR(bgr.data());
        if (tracker.n_faces > 0) {
            out.push_back(found(path, scale, *tracker.faces[0]));
            out.back().frame = (int)k;
        }
    }
    return out;
}

std::vector<FoundFace> gatedFaces(const std::vector<FoundFace>& clip, float minScore, int minFrames) {
    std::vector<FoundFace> out;
    FaceGate gate;
    gate.minScore = minScore;
    gate.minFrames = minFrames;
    int last = -2;
    for (const FoundFace& f : clip) {
        if (f.frame != last + 1)
            gate.admit(0, nullptr);  // a frame without a face in between ends the run
        last = f.frame;
        FaceInfo face;
        f.toInfo(&face);
        if (gate.admit(1, &face))
            out.push_back(f);
    }
    return out;
}

std::vector<FoundFace> detectStills(const std::vector<std::string>& images, const std::string& cascade,
                                    float minShare, float scale) {
    std::vector<FoundFace> out;
    for (const std::string& path : images) {
        GrayFrame frame;
        if (!loadFrame(path, scale, &frame))
            continue;
        std::vector<Window> windows = detectFaces(frame, cascade);
        if (windows.empty() || windows[0].w < minShare * frame.width)
            continue;
        FaceInfo face;
        faceFromWindow(windows[0], &face);
        out.push_back(found(path, scale, face));
    }
    return out;
}

std::vector<FoundFace> spread(const std::vector<FoundFace>& faces, int n) {
    if ((int)faces.size() <= n)
        return faces;
    std::vector<FoundFace> out;
    for (int i = 0; i < n; i++)
        out.push_back(faces[(size_t)i * faces.size() / n + faces.size() / (2 * n)]);
    return out;
}

std::vector<FoundFace> best(const std::vector<FoundFace>& faces, int n) {
    std::vector<size_t> order(faces.size());
    for (size_t i = 0; i < order.size(); i++)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return faces[a].score > faces[b].score; });
    if ((int)order.size() > n)
        order.resize(n);
    std::sort(order.begin(), order.end());
    std::vector<FoundFace> out;
    for (size_t i : order)
        out.push_back(faces[i]);
    return out;
}

std::unique_ptr<FaceVerif_MapGmmDCTmod2> enrollUser(FaceVerif_GmmDCTmod2* world, const std::vector<FoundFace>& faces) {
    std::unique_ptr<FaceVerif_MapGmmDCTmod2> user(new FaceVerif_MapGmmDCTmod2(world, 0));
    if (faces.empty())
        return user;
    UserInfo identity(5000, "enrolled", "None", "None", 2000, 'M');
    std::unique_ptr<FrontalFaceData> store;
    for (const FoundFace& f : faces) {
        std::unique_ptr<ImageGray> frame = f.image();
        if (!frame)
            continue;
        if (!store)
            store.reset(new FrontalFaceData(&identity, frame->width, frame->height, 10, "", false, false, 0, false));
        if (frame->width != store->frameWidth || frame->height != store->frameHeight)
            continue;
        FaceInfo face;
        f.toInfo(&face);
        store->addFaceData(frame.get(), &face, nullptr);
    }
    if (store)
        user->enroll(store.get());
    return user;
}

float Scorer::score(ImageGray* frame, const FoundFace& f) {
    FaceInfo face;
    f.toInfo(&face);
    FrontalFaceData* store = cutter_.cut(frame, &face);
    real s = 0;
    user_->test(store, &s);
    cutter_.release();
    return s;
}

}  // namespace facekit
