#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "VerifTestUtil.h"
#include "verification/FaceData.h"
#include "verification/PrivateFile.h"
#include "verification/UserInfo.h"
#include "visionlib/DiskXFile.h"
#include "visionlib/Image.h"
#include "visionlib/MemoryXFile.h"
#include "visionlib/Sequence.h"
#include "visionlib/filter/FaceInfo.h"

using namespace vision;
using namespace verif_test;

namespace {

const int W = 160, H = 120;


void placeEyes(FaceInfo* face, int lx, int ly, int rx, int ry) {
    face->left_eye_x = lx;
    face->left_eye_y = ly;
    face->right_eye_x = rx;
    face->right_eye_y = ry;
}

// The per-user folders of jdoe (id 42) under a temporary "users" folder.
class StoreTest : public ::testing::Test {
protected:
    StoreTest() : identity(42, "jdoe", "John", "Doe", 1970, 'M'), frame(1, W * H) {
        users = tmp / "users";
        user = users + "/jdoe_0042";
        for (const std::string& d : {users, user, user + "/data", user + "/images", user + "/images/backup"})
            makePrivateFolder(d.c_str());
        fillFrame(&frame, W, H, 0);
        placeEyes(&face, 60, 50, 93, 50);
    }
    std::string listText(FaceData& store) {
        MemoryXFile file;
        store.saveXFile(&file);
        std::string text(file.size, '\0');
        file.rewind();
        file.read(&text[0], 1, file.size);
        return text;
    }
    bool loadList(FaceData& store, const std::string& text) {
        MemoryXFile file;
        file.write(text.data(), 1, (int)text.size());
        file.rewind();
        return store.loadList(&file);
    }
    TempDir tmp;
    std::string users, user;
    UserInfo identity;
    Sequence frame;
    FaceInfo face;
};

}  // namespace

TEST_F(StoreTest, CapacityOneAddAndRemoveLeavesItEmptyAndWritesNothing) {
    CapturedMessages quiet;
    FrontalFaceData store(&identity, W, H, 1, users.c_str(), true, false, 0, false);
    store.addFaceData(&frame, &face, nullptr);  // no name: saving is turned off for good
    EXPECT_NE(quiet.warnings.find("Overriding save_data to false."), std::string::npos);
    EXPECT_FALSE(store.saveData);
    ASSERT_EQ(store.getNumberOfFaces(), 1);
    ASSERT_NE(store.getImage(0), nullptr);
    EXPECT_EQ(store.getImage(0)->width, 64);
    EXPECT_EQ(store.getImage(0)->height, 80);
    store.addFaceData(&frame, &face, nullptr);  // full: the first is shifted out
    EXPECT_EQ(store.getNumberOfFaces(), 1);
    store.removeFaceData(0);
    EXPECT_EQ(store.getNumberOfFaces(), 0);
    EXPECT_EQ(store.getImage(0), nullptr);
    EXPECT_EQ(std::system(("test -z \"$(find '" + users + "' -type f)\"").c_str()), 0) << "files were written";
}

TEST_F(StoreTest, TheEleventhSampleShiftsOutTheOldest) {
    FrontalFaceData store(&identity, W, H, 10, users.c_str(), true, false, 0, true);
    std::vector<std::vector<unsigned char>> crops;
    for (int i = 1; i <= 11; i++) {
        fillFrame(&frame, W, H, i);
        store.addFaceData(&frame, &face, ("s" + std::to_string(i)).c_str());
        const ImageGray* crop = store.getImage(store.getNumberOfFaces() - 1);
        crops.emplace_back(crop->byte_pixels, crop->byte_pixels + 64 * 80);
    }
    ASSERT_EQ(store.getNumberOfFaces(), 10);
    for (int i = 0; i < 10; i++) {
        EXPECT_STREQ(store.getName(i), ("s" + std::to_string(i + 2)).c_str());
        EXPECT_EQ(std::memcmp(store.getImage(i)->byte_pixels, crops[i + 1].data(), 64 * 80), 0) << i;
    }
    EXPECT_EQ(store.getName(10), nullptr);
    EXPECT_EQ(store.getName(-1), nullptr);
    EXPECT_TRUE(fileExists(user + "/data/s1.cro")) << "a shifted-out sample keeps its file";
    EXPECT_EQ(listText(store), "WIDTH 160\nHEIGHT 120\nSHIFTLEN 10\nMAXSTRINGSIZE 3\nNFACEDATA 10\n"
                               "s2\ns3\ns4\ns5\ns6\ns7\ns8\ns9\ns10\ns11\n");
    // Removing from the middle keeps the order of the others.
    store.removeFaceData(3);
    EXPECT_STREQ(store.getName(2), "s4");
    EXPECT_STREQ(store.getName(3), "s6");
    EXPECT_EQ(store.getNumberOfFaces(), 9);
}

TEST_F(StoreTest, BinaryCropsRoundTripByteForByte) {
    FrontalFaceData store(&identity, W, H, 10, users.c_str(), true, false, 0, true);
    store.addFaceData(&frame, &face, "s1");
    std::string cro = user + "/data/s1.cro";
    std::string bytes = readFile(cro);
    ASSERT_EQ(bytes.size(), 5128u);
    EXPECT_EQ(fileMode(cro), 0600);
    int32_t size[2];
    std::memcpy(size, bytes.data(), 8);
    EXPECT_EQ(size[0], 64);
    EXPECT_EQ(size[1], 80);
    const ImageGray* crop = store.getImage(0);
    EXPECT_EQ(std::memcmp(bytes.data() + 8, crop->byte_pixels, 5120), 0);
    // Binary crops write nothing else.
    EXPECT_FALSE(fileExists(user + "/images/s1.raw.pgm"));
    EXPECT_FALSE(fileExists(user + "/images/s1.crop.pgm"));

    std::string list = listText(store);
    FrontalFaceData again(&identity, W, H, 10, users.c_str(), true, false, 0, true);
    ASSERT_TRUE(loadList(again, list));
    ASSERT_EQ(again.getNumberOfFaces(), 1);
    EXPECT_STREQ(again.getName(0), "s1");
    const ImageGray* loaded = again.getImage(0);
    EXPECT_EQ(std::memcmp(loaded->byte_pixels, crop->byte_pixels, 5120), 0);
    for (int i = 0; i < 5120; i++)
        ASSERT_EQ(loaded->real_pixels[i], (real)loaded->byte_pixels[i]);
    // A sample added after the load goes after the loaded ones and writes its crop the same way.
    again.addFaceData(&frame, &face, "s2");
    EXPECT_STREQ(again.getName(1), "s2");
    EXPECT_EQ(readFile(user + "/data/s2.cro"), bytes);
}

TEST_F(StoreTest, SampleFilesAndTheCaptureDescription) {
    face.bbx_x = 40;
    face.bbx_y = 30;
    face.bbx_width = 70;
    face.bbx_height = 80;
    face.score = 0.75f;
    face.angle = -22.5f;
    face.inplane = true;
    face.outplane = false;
    FrontalFaceData store(&identity, W, H, 5, users.c_str(), true, false, 0, false);
    store.addFaceData(&frame, &face, "lastface");
    const std::string base = user + "/images/lastface";
    EXPECT_EQ(readFile(base + ".info.txt"),
              "BBX_X 40\nBBX_Y 30\nBBX_W 70\nBBX_H 80\nEYE_CENTER_L_X 60\nEYE_CENTER_L_Y 50\n"
              "EYE_CENTER_R_X 93\nEYE_CENTER_R_Y 50\nSCORE 0.75\nVIEW -22\nINPLANE T\nOUTPLANE F\n");
    for (const char* suffix : {".raw.pgm", ".info.txt", ".crop.pgm"})
        EXPECT_EQ(fileMode(base + suffix), 0600) << suffix;
    EXPECT_FALSE(fileExists(user + "/data/lastface.cro"));

    ImageGray raw((base + ".raw.pgm").c_str());
    ASSERT_EQ(raw.width, W);
    ASSERT_EQ(raw.height, H);
    for (int i = 0; i < W * H; i++)
        ASSERT_EQ(raw.byte_pixels[i], (unsigned char)frame.frames[0][i]) << i;
    ImageGray crop((base + ".crop.pgm").c_str());
    EXPECT_EQ(std::memcmp(crop.byte_pixels, store.getImage(0)->byte_pixels, 5120), 0);

    FaceInfo back;
    {
        DiskXFile file((base + ".info.txt").c_str(), "r");
        ASSERT_TRUE(readCaptureDescription(&file, &back));
    }
    EXPECT_EQ(back.bbx_x, 40);
    EXPECT_EQ(back.bbx_height, 80);
    EXPECT_EQ(back.left_eye_x, 60);
    EXPECT_EQ(back.right_eye_x, 93);
    EXPECT_EQ(back.score, 0.75f);
    EXPECT_TRUE(back.inplane);
    EXPECT_FALSE(back.outplane);

    // Clearing moves the image files into the backup folder.
    store.clear();
    EXPECT_EQ(store.getNumberOfFaces(), 0);
    EXPECT_FALSE(fileExists(base + ".raw.pgm"));
    EXPECT_TRUE(fileExists(user + "/images/backup/lastface.raw.pgm"));
    EXPECT_TRUE(fileExists(user + "/images/backup/lastface.crop.pgm"));
    EXPECT_TRUE(fileExists(user + "/images/backup/lastface.info.txt"));
}

TEST_F(StoreTest, ListsTheStoreCannotHoldAreRefused) {
    {
        FrontalFaceData store(&identity, W, H, 10, users.c_str(), true, false, 0, true);
        store.addFaceData(&frame, &face, "s1");
    }
    std::string small = user + "/data/small.cro";
    {
        std::string bytes(8 + 32 * 32, '\x10');
        int32_t size[2] = {32, 32};
        std::memcpy(&bytes[0], size, 8);
        writeFile(small, bytes);
    }
    struct Case {
        const char* what;
        std::string list;
    };
    const std::vector<Case> cases = {
        {"SHIFTLEN above the capacity", "WIDTH 160\nHEIGHT 120\nSHIFTLEN 11\nMAXSTRINGSIZE 2\nNFACEDATA 1\ns1\n"},
        {"NFACEDATA above the capacity", "WIDTH 160\nHEIGHT 120\nSHIFTLEN 10\nMAXSTRINGSIZE 2\nNFACEDATA 11\ns1\n"},
        {"negative NFACEDATA", "WIDTH 160\nHEIGHT 120\nSHIFTLEN 10\nMAXSTRINGSIZE 2\nNFACEDATA -1\n"},
        {"name longer than MAXSTRINGSIZE", "WIDTH 160\nHEIGHT 120\nSHIFTLEN 10\nMAXSTRINGSIZE 1\nNFACEDATA 1\ns1\n"},
        {"huge MAXSTRINGSIZE", "WIDTH 160\nHEIGHT 120\nSHIFTLEN 10\nMAXSTRINGSIZE 2147483647\nNFACEDATA 1\ns1\n"},
        {"fewer names than NFACEDATA", "WIDTH 160\nHEIGHT 120\nSHIFTLEN 10\nMAXSTRINGSIZE 2\nNFACEDATA 2\ns1\n"},
        {"a crop that is not 64x80", "WIDTH 160\nHEIGHT 120\nSHIFTLEN 10\nMAXSTRINGSIZE 5\nNFACEDATA 2\ns1\nsmall\n"},
        {"a name that leaves the data folder", "WIDTH 160\nHEIGHT 120\nSHIFTLEN 10\nMAXSTRINGSIZE 20\nNFACEDATA 1\n"
                                              "../data/s1\n"},
        {"a count that is not a number", "WIDTH 160\nHEIGHT 120\nSHIFTLEN ten\nMAXSTRINGSIZE 2\nNFACEDATA 1\ns1\n"},
    };
    CapturedMessages captured;
    for (const Case& c : cases) {
        FrontalFaceData store(&identity, W, H, 10, users.c_str(), true, false, 0, true);
        captured.warnings.clear();
        EXPECT_FALSE(loadList(store, c.list)) << c.what;
        EXPECT_EQ(store.getNumberOfFaces(), 0) << c.what;
        EXPECT_EQ(store.capacity, 10) << c.what;
        EXPECT_NE(captured.warnings.find("the store starts empty"), std::string::npos) << c.what;
        // A refused list leaves a store that works as a fresh one.
        store.addFaceData(&frame, &face, "s9");
        EXPECT_EQ(store.getNumberOfFaces(), 1) << c.what;
    }
    // The list's frame size never replaces the size of the frames the store was built for.
    FrontalFaceData store(&identity, W, H, 10, users.c_str(), true, false, 0, true);
    ASSERT_TRUE(loadList(store, "WIDTH 8000\nHEIGHT 9000\nSHIFTLEN 10\nMAXSTRINGSIZE 2\nNFACEDATA 1\ns1\n"));
    EXPECT_EQ(store.frameWidth, W);
    EXPECT_EQ(store.frameHeight, H);
    store.addFaceData(&frame, &face, "s2");
    EXPECT_EQ(store.getNumberOfFaces(), 2);
}

TEST_F(StoreTest, AMissingOrCutCropCostsOnlyItsSample) {
    // Once fatal for the whole enrollment, and for every later adaptation until the list was fixed.
    {
        FrontalFaceData store(&identity, W, H, 10, users.c_str(), true, false, 0, true);
        for (const char* name : {"s1", "s2", "s3", "s4"}) store.addFaceData(&frame, &face, name);
    }
    std::remove((user + "/data/s2.cro").c_str());
    const std::string whole = readFile(user + "/data/s4.cro");
    writeFile(user + "/data/s3.cro", whole.substr(0, 8 + 100));  // cut inside the pixels
    writeFile(user + "/data/s4.cro", whole.substr(0, 6));         // cut inside the header
    const std::string list = "WIDTH 160\nHEIGHT 120\nSHIFTLEN 10\nMAXSTRINGSIZE 2\nNFACEDATA 4\ns1\ns2\ns3\ns4\n";

    CapturedMessages captured;
    FrontalFaceData store(&identity, W, H, 10, users.c_str(), true, false, 0, true);
    ASSERT_TRUE(loadList(store, list));
    ASSERT_EQ(store.getNumberOfFaces(), 1);
    EXPECT_EQ(std::memcmp(store.getImage(0)->byte_pixels, whole.data() + 8, 5120), 0);
    for (const char* name : {"s2", "s3", "s4"})
        EXPECT_NE(captured.warnings.find("the crop of sample " + std::string(name) + " is missing or cut; the sample "
                                         "is skipped."),
                  std::string::npos)
            << name;
    // The next sample goes after the one kept, and the list written names only what is stored.
    store.addFaceData(&frame, &face, "s5");
    EXPECT_EQ(listText(store), "WIDTH 160\nHEIGHT 120\nSHIFTLEN 10\nMAXSTRINGSIZE 2\nNFACEDATA 2\ns1\ns5\n");
}

TEST_F(StoreTest, FatalFaults) {
    FrontalFaceData store(&identity, W, H, 3, users.c_str(), false, false, 0, false);
    store.addFaceData(&frame, &face, nullptr);
    EXPECT_FATAL(store.removeFaceData(1), "FaceData::removeFaceData\\(1\\) : value out of range\\.");
    EXPECT_FATAL(store.removeFaceData(-1), "FaceData::removeFaceData\\(-1\\) : value out of range\\.");
    Sequence small(1, 10 * 10);
    EXPECT_FATAL(store.addFaceData(&small, &face, nullptr), "the frame is not a 160x120 image");
    // Saving into a folder that does not exist ends the process, as any library file would.
    UserInfo stranger(7, "nobody", "a", "b", 0, ' ');
    FrontalFaceData lost(&stranger, W, H, 3, users.c_str(), true, false, 0, true);
    EXPECT_FATAL(lost.addFaceData(&frame, &face, "s1"), "cannot open <.*nobody_0007/data/s1.cro>");
}
