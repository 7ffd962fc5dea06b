// False accepts of the verification thresholds over many impostor faces: every development user's
// model against the faces of every other person of the development video and the faces of webfaces,
// lfw, utkface and umist, all cut as the tracker cuts them and gated as the verification filter gates.
//
//   impostor_faces DATA --cascade FILE --world FILE [--scale 2] [--step-y 0.09] [--gate 0.025]
//                  [--enroll 1,3,10] [--accept 1.05] [--adaptation 0.35] [--workers 3] [--limit N]
//
// Users: the persons of DATA/video with two clips or more, each enrolled from the gated faces of its
// first clip, N of them spread over the clip, for each N of --enroll (1 and 3 are what one and three
// clicks on the enrollment page give). Impostor faces:
// - video: both clips of every other person, tracked as at run time (--scale, --step-y) and gated:
//   a detection of --gate ("GoodDetectionConfidence") or more, held over two consecutive frames;
// - webfaces, lfw, utkface: each picture brought to what a webcam gives (eyes 18 to 36 pixels apart in
//   a 320x240 frame or a doubled 160x120 one; webfaces with eyes at least 12 pixels apart), the
//   detector's window on the marked face, gated by its score (a still picture is held as long as it
//   is shown);
// - umist: each picture as it is, with a margin, its best window covering 0.4 of its width, gated.
// The pictures that the shipped world model learnt from (800 of each set's, all of umist) are counted
// apart as well. Prints per-frame false accepts at each threshold from 0.30 to 1.50, the highest
// impostor scores with their pictures, and the margin of the highest to --accept and --adaptation;
// the last line holds the highest impostor score over every model and its margin to --accept.
// --workers processes share the faces (the library is not thread-safe); --limit takes at most N
// pictures of each picture set, spread over it.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "tools/facekit/FaceCrops.h"
#include "verification/FaceGate.h"

using namespace facekit;

namespace {


struct User {
    std::string name;
    int gatedEnrollFaces = 0;
    std::vector<std::unique_ptr<vision::FaceVerif_MapGmmDCTmod2>> models;  // one per enroll size
};

// One unit of work: a clip of the video or one picture of a set.
struct Item {
    std::string set;
    std::string path;  // clip folder or picture
    std::string person;  // video: whose clip
    EyeFace eyes;        // webfaces, lfw, utkface
    size_t index = 0;    // place in its set's list
    bool inWorld = false;
};

struct Record {
    uint32_t item;
    int32_t frame;  // video: the frame of the clip; pictures: -1
    uint16_t user, model;
    float score;
};

std::vector<float> parseList(const std::string& text) {
    std::vector<float> out;
    std::istringstream in(text);
    std::string v;
    while (std::getline(in, v, ',')) out.push_back((float)std::atof(v.c_str()));
    return out;
}

std::vector<size_t> spreadIndices(size_t n, int limit) {
    std::vector<size_t> out;
    if (limit <= 0 || (size_t)limit >= n) {
        for (size_t i = 0; i < n; i++) out.push_back(i);
    } else {
        for (int i = 0; i < limit; i++) out.push_back((size_t)i * n / limit);
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DATA --cascade FILE --world FILE [--gate B] [--enroll 1,3,10]\n", argv[0]);
        return 2;
    }
    const std::string data = argv[1];
    std::string cascade, worldPath;
    TrackOptions track;
    track.scale = 2.0f;
    track.step_y_factor = 0.09f;
    float bar = 0.025f, accept = 1.05f, adaptation = 0.35f;
    std::vector<float> enrollSizes = {1, 3, 10};
    int workers = 3, limit = 0;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        const char* v = argv[i + 1];
        if (a == "--cascade") cascade = v;
        else if (a == "--world") worldPath = v;
        else if (a == "--scale") track.scale = (float)std::atof(v);
        else if (a == "--step-y") track.step_y_factor = (float)std::atof(v);
        else if (a == "--gate") bar = (float)std::atof(v);
        else if (a == "--enroll") enrollSizes = parseList(v);
        else if (a == "--accept") accept = (float)std::atof(v);
        else if (a == "--adaptation") adaptation = (float)std::atof(v);
        else if (a == "--workers") workers = std::max(1, std::atoi(v));
        else if (a == "--limit") limit = std::atoi(v);
        else {
            std::fprintf(stderr, "unknown argument %s\n", a.c_str());
            return 2;
        }
    }
    if (cascade.empty() || worldPath.empty() || enrollSizes.empty()) {
        std::fprintf(stderr, "usage: %s DATA --cascade FILE --world FILE [--gate B] [--enroll 1,3,10]\n", argv[0]);
        return 2;
    }
    for (float n : enrollSizes)
        if (n < 1 || n > 10) {
            std::fprintf(stderr, "--enroll sizes lie between 1 and 10\n");
            return 2;
        }

    vision::FaceVerif_GmmDCTmod2 world(worldPath.c_str(), 0);
    std::printf("# %s: cascade %s, world model %s, scale %g, step %g, gate at detection %.3f held %d frames; "
                "accept %.3f, adaptation %.3f\n",
                data.c_str(), cascade.c_str(), worldPath.c_str(), (double)track.scale, (double)track.step_y_factor,
                (double)bar, vision::kFaceGateHeldFrames, (double)accept, (double)adaptation);

    // Users and the video items.
    std::vector<User> users;
    std::vector<Item> items;
    for (const std::string& person : subFolders(data + "/video")) {
        const std::string name = person.substr(person.rfind('/') + 1);
        const std::vector<std::string> clips = subFolders(person);
        for (const std::string& clip : clips) {
            Item it;
            it.set = "video";
            it.path = clip;
            it.person = name;
            it.index = items.size();
            items.push_back(it);
        }
        if (clips.size() < 2) continue;
        const std::vector<FoundFace> enroll =
            gatedFaces(trackClip(listPgm(clips[0]), cascade, track), bar, vision::kFaceGateHeldFrames);
        if (enroll.empty()) {
            std::printf("%s: no gated face in %s, left out\n", name.c_str(), clips[0].c_str());
            continue;
        }
        User u;
        u.name = name;
        u.gatedEnrollFaces = (int)enroll.size();
        for (float n : enrollSizes) u.models.push_back(enrollUser(&world, spread(enroll, (int)n)));
        std::printf("user %s: %d gated faces in %s\n", name.c_str(), u.gatedEnrollFaces, clips[0].c_str());
        users.push_back(std::move(u));
    }
    if (users.empty()) {
        std::fprintf(stderr, "no user in %s/video\n", data.c_str());
        return 1;
    }
    // The picture sets, with the pictures the world model learnt from.
    struct EyeSet {
        const char* name;
        std::vector<EyeFace> faces;
        float minSourceEyes;
    } eyeSets[] = {{"webfaces", readWebFaces(data + "/webfaces"), 12},
                   {"lfw", lfwFaces(data + "/lfw"), 0},
                   {"utkface", utkFaces(data + "/utkface"), 0}};
    WebcamFaces webcam;
    for (EyeSet& s : eyeSets) {
        WebcamFaces trained = webcam;
        trained.min_source_eyes = s.minSourceEyes;
        trained.limit = 800;  // as tools/train_world_model/train_world.sh takes them
        const std::vector<size_t> inWorld = pickWebcamFaces(s.faces, trained);
        const std::set<size_t> learnt(inWorld.begin(), inWorld.end());
        WebcamFaces all = webcam;
        all.min_source_eyes = s.minSourceEyes;
        const std::vector<size_t> usable = pickWebcamFaces(s.faces, all);
        for (size_t k : spreadIndices(usable.size(), limit)) {
            Item it;
            it.set = s.name;
            it.eyes = s.faces[usable[k]];
            it.path = it.eyes.path;
            it.index = k;
            it.inWorld = learnt.count(usable[k]) > 0;
            items.push_back(it);
        }
    }
    {
        std::vector<std::string> pictures;
        for (const std::string& person : subFolders(data + "/umist"))
            for (const std::string& p : listPgm(person)) pictures.push_back(p);
        for (size_t k : spreadIndices(pictures.size(), limit)) {
            Item it;
            it.set = "umist";
            it.path = pictures[k];
            it.index = k;
            it.inWorld = true;
            items.push_back(it);
        }
    }

    // The workers score their share of the items into files of records.
    char tmpl[] = "/tmp/impostor-faces-XXXXXX";
    if (!mkdtemp(tmpl)) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    const std::string work = tmpl;
    std::fflush(stdout);
    std::vector<pid_t> children;
    for (int w = 0; w < workers; w++) {
        const pid_t pid = fork();
        if (pid < 0) {
            std::fprintf(stderr, "cannot start a worker\n");
            return 1;
        }
        if (pid > 0) {
            children.push_back(pid);
            continue;
        }
        FILE* out = std::fopen((work + "/" + std::to_string(w)).c_str(), "wb");
        if (!out) _exit(1);
        std::vector<std::unique_ptr<Scorer>> scorers;
        for (User& u : users)
            for (auto& m : u.models) scorers.emplace_back(new Scorer(m.get()));
        auto scoreAll = [&](size_t item, const std::string& person, vision::ImageGray* image, const FoundFace& f) {
            for (size_t u = 0; u < users.size(); u++) {
                if (users[u].name == person) continue;
                for (size_t m = 0; m < enrollSizes.size(); m++) {
                    Record r{(uint32_t)item, f.frame, (uint16_t)u, (uint16_t)m,
                             scorers[u * enrollSizes.size() + m]->score(image, f)};
                    std::fwrite(&r, sizeof r, 1, out);
                }
            }
        };
        for (size_t i = (size_t)w; i < items.size(); i += (size_t)workers) {
            const Item& it = items[i];
            if (it.set == "video") {
                for (const FoundFace& f : gatedFaces(trackClip(listPgm(it.path), cascade, track), bar, vision::kFaceGateHeldFrames)) {
                    std::unique_ptr<vision::ImageGray> image = f.image();
                    if (image) scoreAll(i, it.person, image.get(), f);
                }
                continue;
            }
            GrayFrame frame;
            Window window;
            bool found = false;
            if (it.set == "umist") {
                GrayFrame original;
                found = loadGray(it.path, &original) && pictureFace(original, 1.0f, 0.4f, cascade, &frame, &window);
            } else {
                found = webcamFace(it.eyes, it.index, cascade, webcam, &frame, &window);
            }
            if (!found || !(window.confidence >= bar)) continue;
            vision::FaceInfo info;
            faceFromWindow(window, &info);
            FoundFace f{it.path, 1.0f, info.bbx_x, info.bbx_y, info.bbx_width, info.bbx_height,
                        info.left_eye_x, info.left_eye_y, info.right_eye_x, info.right_eye_y, (float)info.score};
            std::unique_ptr<vision::ImageGray> image = toImage(frame);
            scoreAll(i, "", image.get(), f);
        }
        std::fclose(out);
        _exit(0);
    }
    bool failed = false;
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        failed = failed || !WIFEXITED(status) || WEXITSTATUS(status) != 0;
    }
    std::vector<Record> records;
    for (int w = 0; w < workers; w++) {
        const std::string path = work + "/" + std::to_string(w);
        if (FILE* in = std::fopen(path.c_str(), "rb")) {
            Record r;
            while (std::fread(&r, sizeof r, 1, in) == 1) records.push_back(r);
            std::fclose(in);
        }
        std::remove(path.c_str());
    }
    rmdir(work.c_str());
    if (failed) {
        std::fprintf(stderr, "a worker failed\n");
        return 1;
    }

    // Faces per set (a face is scored against every model of every other user).
    const char* sets[] = {"video", "webfaces", "lfw", "utkface", "umist"};
    {
        std::set<std::pair<uint32_t, int32_t>> faces[5];
        size_t pictures[5] = {0, 0, 0, 0, 0};
        for (const Item& it : items)
            for (int s = 0; s < 5; s++) pictures[s] += it.set == sets[s];
        for (const Record& r : records)
            for (int s = 0; s < 5; s++)
                if (items[r.item].set == sets[s]) faces[s].insert({r.item, r.frame});
        for (int s = 0; s < 5; s++)
            std::printf("%s: %zu gated faces from %zu %s\n", sets[s], faces[s].size(), pictures[s],
                        s == 0 ? "clips" : "pictures");
    }
    const size_t M = enrollSizes.size();
    std::vector<std::vector<const Record*>> byModel(M);
    for (const Record& r : records) byModel[r.model].push_back(&r);
    for (auto& list : byModel)
        std::sort(list.begin(), list.end(), [](const Record* a, const Record* b) { return a->score > b->score; });
    std::printf("per-frame false accepts (impostor face scores at or above the threshold), by enroll size:\n");
    for (int t = 30; t <= 150; t += 5) {
        const float at = t / 100.0f;
        std::printf("threshold %.2f:", at);
        for (size_t m = 0; m < M; m++) {
            size_t n = 0;
            for (const Record* r : byModel[m]) n += r->score >= at;
            std::printf("  enroll %g: %zu of %zu (%.3f%%)", (double)enrollSizes[m], n, byModel[m].size(),
                        byModel[m].empty() ? 0.0 : 100.0 * n / byModel[m].size());
        }
        std::printf("\n");
    }
    auto describe = [&](const Record* r) {
        const Item& it = items[r->item];
        char b[512];
        if (r->frame >= 0)
            std::snprintf(b, sizeof b, "%.3f: model %s (enroll %g), %s/frame%04d.pgm", r->score,
                          users[r->user].name.c_str(), (double)enrollSizes[r->model], it.path.c_str(), r->frame);
        else
            std::snprintf(b, sizeof b, "%.3f: model %s (enroll %g), %s %s%s", r->score, users[r->user].name.c_str(),
                          (double)enrollSizes[r->model], it.set.c_str(), it.path.c_str(),
                          it.inWorld ? " (in the world model's training)" : "");
        return std::string(b);
    };
    const Record* highest = nullptr;
    size_t total = 0;
    for (size_t m = 0; m < M; m++) {
        total += byModel[m].size();
        if (byModel[m].empty()) continue;
        std::printf("enroll %g: highest impostor scores\n", (double)enrollSizes[m]);
        for (size_t k = 0; k < byModel[m].size() && k < 5; k++) std::printf("  %s\n", describe(byModel[m][k]).c_str());
        for (int s = 0; s < 5; s++) {
            const Record* top = nullptr;
            const Record* topUnseen = nullptr;
            for (const Record* r : byModel[m]) {
                if (items[r->item].set != sets[s]) continue;
                if (!top) top = r;
                if (!topUnseen && !items[r->item].inWorld) topUnseen = r;
                if (top && topUnseen) break;
            }
            if (!top) continue;
            char unseen[96] = "";
            if (topUnseen && topUnseen != top)
                std::snprintf(unseen, sizeof unseen, " (%.3f outside the world model's training)", topUnseen->score);
            std::printf("  highest of %s %.3f%s\n", sets[s], top->score, unseen);
        }
        if (!highest || byModel[m][0]->score > highest->score) highest = byModel[m][0];
    }
    if (!highest) {
        std::fprintf(stderr, "no impostor face was scored\n");
        return 1;
    }
    std::printf("highest %s; margin %.3f below the adaptation threshold %.3f\n", describe(highest).c_str(),
                adaptation - highest->score, (double)adaptation);
    std::printf("highest impostor score %.3f of %zu, margin %.3f below the acceptance threshold %.3f\n",
                highest->score, total, accept - highest->score, (double)accept);
    return 0;
}
