// Writes the harnesses' seed corpus: one folder per harness under the folder given, each file made
// by the system's own writers (or, for the text formats without a writer, the texts the program's
// tests use). Run by scripts/fuzz.sh --seeds; the output is committed beside the harnesses.
#include <sys/stat.h>
#include <wx/init.h>

#include <cmath>
#include <cstring>

#include "app/core/Configuration.h"
#include "fuzz_common.h"
#include "jpeg_frames.h"
#include "platform/kernel.h"
#include "verification/FaceData.h"
#include "verification/FaceVerif.h"
#include "verification/UserInfo.h"
#include "visionlib/Image.h"
#include "visionlib/MemoryXFile.h"
#include "visionlib/Sequence.h"
#include "visionlib/filter/FaceInfo.h"
#include "read_file.h"

using testutil::readFile;

namespace {

std::string out;

std::string textOf(vision::MemoryXFile& file) {
    std::string text(file.size, '\0');
    file.rewind();
    file.read(&text[0], 1, file.size);
    return text;
}

void seed(const std::string& harness, const std::string& name, const std::string& bytes) {
    const std::string dir = out + "/" + harness;
    ::mkdir(dir.c_str(), 0755);
    fuzz::writeFile(dir + "/" + name, bytes);
}

const int W = 96, H = 80;

void placeFace(vision::FaceInfo& face, int lx, int ly, int rx, int ry) {
    face.left_eye_x = lx;
    face.left_eye_y = ly;
    face.right_eye_x = rx;
    face.right_eye_y = ry;
    face.bbx_x = lx - 15;
    face.bbx_y = ly - 15;
    face.bbx_width = rx - lx + 30;
    face.bbx_height = rx - lx + 30;
    face.score = 1.5f;
}

void fillFrame(vision::Sequence& gray, int shift) {
    for (int i = 0; i < W * H; i++) gray.frames[0][i] = fuzz::texture(i + shift);
}

void verifierModels() {
    const std::string world = fuzz::path("world.model");
    {
        vision::DiskXFile f(world.c_str(), "w");
        const int G = 2, D = 18;
        std::vector<float> params(G, std::log(1.0f / G));
        for (int g = 0; g < G; g++) {
            for (int j = 0; j < D; j++) params.push_back((float)((g * 7 + j) % 5) - 2.0f);
            for (int j = 0; j < D; j++) params.push_back(j == 0 ? 4000.0f : 50.0f + 10.0f * g);
        }
        f.taggedWrite(&G, 4, 1, "n_gaussians");
        f.taggedWrite(&D, 4, 1, "n_inputs");
        f.taggedWrite(params.data(), 4, (int)params.size(), "PARAMS");
    }
    const std::string worldBytes = readFile(world);
    seed("verifier_model", "world-only", worldBytes);

    vision::UserInfo identity(1, "u", "a", "b", 0, ' ');
    vision::FrontalFaceData store(&identity, W, H, 4, "", false, false, 0, false);
    vision::Sequence gray(1, W * H);
    for (int k = 0; k < 3; k++) {
        fillFrame(gray, k);
        vision::FaceInfo face;
        placeFace(face, 30, 30 + k, 63, 30 + k);
        store.addFaceData(&gray, &face, nullptr);
    }
    vision::FaceVerif_GmmDCTmod2 worldVerifier(world.c_str(), 0);
    vision::FaceVerif_MapGmmDCTmod2 user(&worldVerifier, 0);
    if (!user.enroll(&store)) std::abort();
    const std::string userFile = fuzz::path("user.model");
    {
        vision::DiskXFile f(userFile.c_str(), "w");
        user.saveXFile(&f);
    }
    seed("verifier_model", "world-and-user", worldBytes + "\n--\n" + readFile(userFile));
}

void cascades() {
    for (bool accept : {true, false}) {
        const std::string file = fuzz::path("c.cascade");
        fuzz::writeUniformCascade(file, accept);
        seed("cascade", accept ? "accept-all" : "reject-all", readFile(file));
    }
}

void multiView() {
    const std::string pyramid =
        "toplevel_model a.cascade toplevel_threshold -100\n"
        "inplane_router_model a.cascade inplane_router_threshold -100\n"
        "outplane_router_model b.cascade outplane_router_threshold -100\n"
        "inplane_list in.list inplane_connect in.connect\n"
        "outplane_list out.list outplane_connect out.connect\n";
    const std::string lists =
        "\n--\nn_models 2\nmodel[0] c.cascade threshold[0] -100 name[0] m0 id[0] 1\n"
        "model[1] d.cascade threshold[1] -100 name[1] m1 id[1] 3\n"
        "\n--\n2 2\nx L\nx x\n"
        "\n--\nn_models 1\nmodel[0] d.cascade threshold[0] -100 name[0] m0 id[0] 5\n"
        "\n--\n1 1\nx\n";
    seed("multiview", "two-planes", pyramid + lists);
    seed("multiview", "normalised",
         pyramid + "inplane_router_mu 0 inplane_router_stdv 1 outplane_router_mu 0 outplane_router_stdv 1\n" + lists);
    seed("parameter_file", "model-list",
         "n_models 2\nmodel[0] a.cascade model[1] b.cascade threshold[0] 0.5 id[1] 3 flag[1] true\n"
         "flag false value 2.5 text hello\n");
    seed("parameter_file", "commented", "# note\nn_models 1 #model[0] x model[0] y\n");
}

void pictures() {
    vision::ImageGray image(8, 6);
    for (int i = 0; i < 48; i++) image.byte_pixels[i] = fuzz::texture(i);
    image.updateReals();
    const std::string file = fuzz::path("p.pgm");
    {
        vision::DiskXFile f(file.c_str(), "w");
        image.saveXFile(&f);
    }
    seed("pgm", "8x6", readFile(file));
    seed("replay_frame", "gray-8x6", readFile(file));
    std::string ppm = "P6\n4 3\n255\n";
    for (int i = 0; i < 36; i++) ppm += (char)fuzz::texture(i);
    seed("replay_frame", "colour-4x3", ppm);
}

// MJPEG frames as webcams send them, with and without their Huffman tables, and the frame that
// once ended the program: its header declares 65500x65500.
void mjpegFrames() {
    std::vector<uint8_t> bgr(32 * 24 * 3);
    for (size_t i = 0; i < bgr.size(); i++) bgr[i] = fuzz::texture(i);
    const std::vector<uint8_t> jpeg = testutil::encodeJpeg(bgr.data(), 32, 24, 80);
    const std::vector<uint8_t> bare = testutil::stripHuffmanTables(jpeg);
    const std::vector<uint8_t> huge = testutil::hugeDeclaredJpegFrame();
    seed("mjpeg", "colour-32x24", std::string(jpeg.begin(), jpeg.end()));
    seed("mjpeg", "colour-32x24-no-huffman-tables", std::string(bare.begin(), bare.end()));
    seed("mjpeg", "regression-declares-65500x65500", std::string(huge.begin(), huge.end()));
}

// A hive as the registry stand-in writes it: the program's two values.
void registryHive() {
    const std::string dir = fuzz::path("seed-registry");
    ::mkdir(dir.c_str(), 0700);
    setenv("TARVELO_REGISTRY_DIR", dir.c_str(), 1);
    HKEY key = nullptr;
    const DWORD timeout = 600, one = 1;
    if (RegCreateKeyA(HKEY_CURRENT_USER, "Control Panel\\Desktop", &key) != LONG(ERROR_SUCCESS)) std::abort();
    RegSetValueExA(key, "ScreenSaveTimeOut", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&timeout), 4);
    RegCloseKey(key);
    if (RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System", &key) !=
        LONG(ERROR_SUCCESS))
        std::abort();
    RegSetValueExA(key, "DisableTaskMgr", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4);
    RegCloseKey(key);
    seed("registry", "two-values", readFile(dir + "/HKEY_CURRENT_USER.reg"));
}

void store() {
    const std::string users = fuzz::path("seed-users");
    vision::UserInfo identity(42, "jdoe", "John", "Doe", 1970, 'M');
    const std::string user = users + "/jdoe_0042";
    for (const std::string& d : {users, user, user + "/data"}) ::mkdir(d.c_str(), 0700);
    vision::FrontalFaceData samples(&identity, W, H, 10, users.c_str(), true, false, 0, true);
    vision::Sequence gray(1, W * H);
    for (const char* name : {"s1", "s2"}) {
        fillFrame(gray, name[1]);
        vision::FaceInfo face;
        placeFace(face, 30, 30, 63, 31);
        samples.addFaceData(&gray, &face, name);
    }
    vision::MemoryXFile list;
    samples.saveXFile(&list);
    seed("face_list", "two-samples", textOf(list));
    seed("crop", "whole", readFile(user + "/data/s1.cro"));

    vision::FaceInfo face;
    placeFace(face, 30, 30, 63, 32);
    vision::MemoryXFile info;
    vision::writeCaptureDescription(&info, &face);
    seed("capture_description", "level-eyes", textOf(info));

    vision::MemoryXFile record;
    identity.saveXFile(&record);
    seed("identity", "jdoe", textOf(record));

    for (unsigned count : {1u, 4u}) {
        vision::FaceInfo faces[4];
        vision::FaceInfo* pointers[4];
        for (unsigned i = 0; i < count; i++) {
            placeFace(faces[i], 20 + 5 * (int)i, 30, 53 + 5 * (int)i, 30);
            pointers[i] = &faces[i];
        }
        std::string sample(196, '\0');
        vision::packFaceInfo(count, pointers, &sample[0], sample.size());
        seed("face_info_stream", std::to_string(count) + "-faces", sample);
    }
}

void configuration() {
    wxInitializer toolkit;
    Configuration config;
    config.detectorModel = "models/frontal.cascade";
    config.worldModel = "models/world.model";
    const std::string file = fuzz::path("Tarvelo.cfg");
    if (!config.save(file)) std::abort();
    seed("configuration", "defaults", readFile(file));
    config.detectorType = 2;
    config.cameraName = "Desk Replay";
    config.setFormat("640x480");
    if (!config.save(file)) std::abort();
    seed("configuration", "multi-view", readFile(file));
}

void cameras() {
    seed("camera_declarations", "two-cameras",
         "# name | folder | options\n"
         "Desk Replay | clip | rate=15 pins=preview,capture sizes=320x240,640x480\n"
         "Busy | clip | fail=busy\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds <corpus folder>\n");
        return 2;
    }
    fuzz::silence();
    out = argv[1];
    ::mkdir(out.c_str(), 0755);
    verifierModels();
    cascades();
    multiView();
    pictures();
    store();
    configuration();
    cameras();
    mjpegFrames();
    registryHive();
    return 0;
}
