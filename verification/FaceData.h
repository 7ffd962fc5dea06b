#pragma once
// A store of up to `capacity` face crops, each under a sample name, oldest first; when full, the oldest
// is shifted out. It can write each sample's files into the user's folders and reload itself from its
// face list.
#include <string>

#include "visionlib/Object.h"

namespace vision {

class FaceInfo;
class FrontalFace64x80;
class ImageGray;
class Sequence;
class UserInfo;
class XFile;

// Size of every stored crop.
const int FACE_CROP_WIDTH = 64;
const int FACE_CROP_HEIGHT = 80;

class FaceData : public Object {
public:
    int capacity;
    char* directory;  // holds the per-user folders
    bool saveData;
    bool saveBackup;   // only together with saveData and binaryCrops
    bool binaryCrops;  // crops as ".cro" files in the data folder, nothing else written
    int maxNameLength;
    ImageGray* workImage;  // the whole frame, for saving it
    UserInfo* identity;    // not owned
    int frameWidth;
    int frameHeight;
    int verbose;
    int currentSlot;
    ImageGray** images;  // capacity places, NULL when empty
    char** names;        // capacity places, NULL when empty
    int count;

    FaceData(UserInfo* identity, int width, int height, int capacity, const char* directory, bool saveData,
             bool saveBackup, int verbose, bool binaryCrops);
    // The face list. A list the store cannot hold (counts above its capacity, names longer than their
    // stated size or a crop that is not 64x80) is refused with a warning and leaves the store empty.
    void loadXFile(XFile* file) override;
    void saveXFile(XFile* file) override;
    ~FaceData() override;

    // Cuts the face out of frame (one frame of width x height gray reals 0..255) and stores it under
    // name (none: nothing can be saved).
    virtual void addFaceData(Sequence* frame, FaceInfo* face, const char* name);
    virtual void processFace(Sequence* frame, FaceInfo* face) = 0;
    virtual void removeFaceData(int index);
    virtual void clear();

    // loadXFile that tells whether the list was taken.
    bool loadList(XFile* file);

    // Name of sample i, or NULL out of range.
    const char* getName(int i) const;
    // Crop of sample i (64x80), or NULL out of range.
    ImageGray* getImage(int i) const;
    int getNumberOfFaces() const { return count; }

    // Sample files: "<user folder>/images/<name><suffix>" (".raw.pgm", ".info.txt", ".crop.pgm"), the
    // same under "images/backup/", and "<user folder>/data/<name>.cro".
    std::string imagePath(const char* name, const char* suffix, bool backup = false) const;
    std::string cropPath(const char* name) const;

protected:
    int places;  // size of the two arrays; capacity never exceeds it
    void printAddressTable();
    void moveToBackup(const char* name);
    void releaseSample(int place);
    void emptyStore();
    enum CropLoad { CROP_LOADED, CROP_WRONG_SIZE, CROP_UNREADABLE };
    CropLoad loadCrop(int place, const char* name);
};

class FrontalFaceData : public FaceData {
public:
    FrontalFace64x80* faceModel;

    FrontalFaceData(UserInfo* identity, int width, int height, int capacity, const char* directory,
                    bool saveData, bool saveBackup, int verbose, bool binaryCrops);
    ~FrontalFaceData() override;

    // A 64x80 crop placed by the face's two eye centres.
    void processFace(Sequence* frame, FaceInfo* face) override;
};

// The capture description (".info.txt") of a face: box, eyes, score, view and plane flags, one
// "KEY value" line each, in the C locale.
void writeCaptureDescription(XFile* file, const FaceInfo* face);
// Reads one back by position; false when a line is missing or not a number.
bool readCaptureDescription(XFile* file, FaceInfo* face);

}  // namespace vision
