#include "verification/FaceData.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <memory>

#include "verification/PrivateFile.h"
#include "verification/SampleFiles.h"
#include "verification/TextLines.h"
#include "verification/UserInfo.h"
#include "visionlib/Allocator.h"
#include "visionlib/DiskXFile.h"
#include "visionlib/Image.h"
#include "visionlib/Message.h"
#include "visionlib/Sequence.h"
#include "visionlib/XFile.h"
#include "visionlib/filter/FaceInfo.h"

namespace vision {

FaceData::FaceData(UserInfo* identity_, int width, int height, int capacity_, const char* directory_,
                   bool saveData_, bool saveBackup_, int verbose_, bool binaryCrops_)
    : capacity(capacity_), directory(nullptr), saveData(saveData_),
      saveBackup(saveBackup_ && saveData_ && binaryCrops_), binaryCrops(binaryCrops_), maxNameLength(2),
      workImage(nullptr), identity(identity_), frameWidth(width), frameHeight(height), verbose(verbose_),
      currentSlot(0), images(nullptr), names(nullptr), count(0), places(capacity_ > 0 ? capacity_ : 0) {
    if (!identity)
        error("FaceData::FaceData() : no identity.");
    if (capacity < 1)
        error("FaceData::FaceData() : the capacity (%d) must be at least 1.", capacity);
    const char* dir = directory_ ? directory_ : "";
    directory = (char*)allocator->alloc((long)strlen(dir) + 1);
    strcpy(directory, dir);
    images = (ImageGray**)allocator->alloc((long)sizeof(ImageGray*) * places);
    names = (char**)allocator->alloc((long)sizeof(char*) * places);
    for (int i = 0; i < places; i++) {
        images[i] = nullptr;
        names[i] = nullptr;
    }
    workImage = new (allocator) ImageGray(width, height);
}

FaceData::~FaceData() {}

std::string FaceData::imagePath(const char* name, const char* suffix, bool backup) const {
    return userFolderPath(directory, identity) + (backup ? "/images/backup/" : "/images/") + name + suffix;
}

std::string FaceData::cropPath(const char* name) const {
    return userFolderPath(directory, identity) + "/data/" + name + ".cro";
}

const char* FaceData::getName(int i) const { return i >= 0 && i < count ? names[i] : nullptr; }

ImageGray* FaceData::getImage(int i) const { return i >= 0 && i < count ? images[i] : nullptr; }

void FaceData::printAddressTable() {
    for (int i = 0; i < places; i++)
        print("AT[%d] data=%d filename=%d\n", i, (int)(intptr_t)images[i], (int)(intptr_t)names[i]);
}

// Moves a sample's image-folder files into the backup folder; a file that cannot move stays.
void FaceData::moveToBackup(const char* name) {
    for (const char* suffix : kSampleSuffixes) {
        std::string from = imagePath(name, suffix), to = imagePath(name, suffix, true);
        if (verbose > 2)
            message("moving %s -> %s\n", from.c_str(), to.c_str());
        ::rename(from.c_str(), to.c_str());
    }
}

void FaceData::releaseSample(int place) {
    allocator->free(images[place]);
    allocator->free(names[place]);
    images[place] = nullptr;
    names[place] = nullptr;
}

void FaceData::emptyStore() {
    for (int i = 0; i < places; i++)
        releaseSample(i);
    count = 0;
    currentSlot = 0;
}

void FaceData::addFaceData(Sequence* frame, FaceInfo* face, const char* name) {
    if (!frame || frame->n_frames < 1 || frame->frame_size < frameWidth * frameHeight)
        error("FaceData::addFaceData() : the frame is not a %dx%d image.", frameWidth, frameHeight);
    if (!face)
        error("FaceData::addFaceData() : no face.");
    if (verbose > 2) {
        print("Adress table:\n");
        printAddressTable();
    }
    if (!name) {
        if (saveData) {
            warning("FaceData::addFaceData() : no filename provided but saving data is required. "
                    "Overriding save_data to false.");
            saveData = false;
            saveBackup = false;
        }
    } else if ((int)strlen(name) > maxNameLength) {
        maxNameLength = (int)strlen(name);
    }

    const bool full = count >= capacity;
    if (full) {
        if (verbose > 2)
            message("Shifting ...");
        if (saveBackup && names[0])
            moveToBackup(names[0]);
        releaseSample(0);
        for (int i = 1; i < count; i++) {
            images[i - 1] = images[i];
            names[i - 1] = names[i];
        }
        images[count - 1] = nullptr;
        names[count - 1] = nullptr;
        if (verbose > 2) {
            print("Adress table after shift:\n");
            printAddressTable();
        }
        currentSlot = count - 1;
    } else {
        currentSlot = count;
    }

    if (name) {
        names[currentSlot] = (char*)allocator->realloc(names[currentSlot], (long)strlen(name) + 1);
        strcpy(names[currentSlot], name);
    }

    if (saveData && !binaryCrops) {
        workImage->copyFrom(frameWidth, frameHeight, frame->frames[0], "float", 255);
        std::string raw = imagePath(name, kSampleFrame);
        if (verbose > 2)
            message("Saving image file %s\n", raw.c_str());
        writePrivateFile(raw.c_str(), [&](XFile* f) { workImage->saveXFile(f); });
        std::string info = imagePath(name, kSampleDescription);
        if (verbose > 2)
            message("Saving info file %s\n", info.c_str());
        writePrivateFile(info.c_str(), [&](XFile* f) { writeCaptureDescription(f, face); });
    }

    processFace(frame, face);

    ImageGray* crop = images[currentSlot];
    if (saveData && crop) {
        if (!binaryCrops) {
            std::string path = imagePath(name, kSampleCrop);
            if (verbose > 2)
                message("Saving image file %s\n", path.c_str());
            writePrivateFile(path.c_str(), [&](XFile* f) { crop->saveXFile(f); });
        } else {
            writePrivateFile(cropPath(name).c_str(), [&](XFile* f) {
                int32_t size[2] = {crop->width, crop->height};
                f->write(size, 4, 2);
                f->write(crop->byte_pixels, 1, crop->width * crop->height);
            });
        }
    }

    if (!full)
        count++;
}

void FaceData::removeFaceData(int index) {
    if (index < 0 || index >= count)
        error("FaceData::removeFaceData(%d) : value out of range.", index);
    if (verbose > 2)
        message("FaceData::removeFaceData() removing data %d.", index);
    releaseSample(index);
    for (int i = index + 1; i < count; i++) {
        images[i - 1] = images[i];
        names[i - 1] = names[i];
    }
    images[count - 1] = nullptr;
    names[count - 1] = nullptr;
    count--;
}

void FaceData::clear() {
    if (saveData && !binaryCrops)
        for (int i = 0; i < count; i++)
            if (names[i])
                moveToBackup(names[i]);
    for (int i = 0; i < count; i++) {
        allocator->free(images[i]);
        images[i] = nullptr;
    }
    count = 0;
    currentSlot = 0;
}

void FaceData::saveXFile(XFile* file) {
    if (!saveData)
        return;
    CLocaleScope c;
    file->printf("WIDTH %d\n", frameWidth);
    file->printf("HEIGHT %d\n", frameHeight);
    file->printf("SHIFTLEN %d\n", capacity);
    file->printf("MAXSTRINGSIZE %d\n", maxNameLength);
    file->printf("NFACEDATA %d\n", count);
    for (int i = 0; i < count; i++)
        file->printf("%s\n", names[i] ? names[i] : "");
}

// One crop into an empty place: CROP_LOADED, CROP_WRONG_SIZE for a crop that is not 64x80, or
// CROP_UNREADABLE for a binary crop that is missing or shorter than its header says.
FaceData::CropLoad FaceData::loadCrop(int place, const char* name) {
    ImageGray* image = nullptr;
    if (binaryCrops) {
        // A crop that is no regular file (a FIFO would hold the reader for ever) counts as missing.
        std::unique_ptr<DiskXFile> file(DiskXFile::tryOpen(cropPath(name).c_str(), "r"));
        if (!file)
            return CROP_UNREADABLE;
        int32_t size[2] = {0, 0};
        if (file->read(size, 4, 2) != 2)
            return CROP_UNREADABLE;
        if (size[0] != FACE_CROP_WIDTH || size[1] != FACE_CROP_HEIGHT)
            return CROP_WRONG_SIZE;
        image = new (allocator) ImageGray(size[0], size[1]);
        int expected = size[0] * size[1];
        int got = file->read(image->byte_pixels, 1, expected);
        if (got != expected) {
            allocator->free(image);
            return CROP_UNREADABLE;
        }
        image->updateReals();
    } else {
        std::string path = imagePath(name, kSampleCrop);
        if (FILE* probe = openRegularFile(path.c_str(), "r"))
            fclose(probe);
        else
            path = imagePath(name, kSampleCrop, true);
        if (verbose > 2)
            message("Loading image file %s\n", path.c_str());
        image = new (allocator) ImageGray();
        image->load(path.c_str());
        if (image->width != FACE_CROP_WIDTH || image->height != FACE_CROP_HEIGHT) {
            allocator->free(image);
            return CROP_WRONG_SIZE;
        }
    }
    images[place] = image;
    return CROP_LOADED;
}

// The list is read by position, key words unchecked. Its WIDTH and HEIGHT are only read: the store
// keeps the frame size it was built for.
bool FaceData::loadList(XFile* file) {
    emptyStore();
    char line[TEXT_LINE_SIZE];
    int values[5];
    for (int& v : values)
        if (!readTextLine(file, line) || !textLineInt(line, &v)) {
            warning("FaceData::loadXFile() : the face list cannot be read; the store starts empty.");
            return false;
        }
    const int shiftLength = values[2], nameLength = values[3], n = values[4];
    if (shiftLength < 1 || shiftLength > places || n < 0 || n > shiftLength) {
        warning("FaceData::loadXFile() : the face list holds %d of %d samples, more than the %d places of "
                "the store; the store starts empty.", n, shiftLength, places);
        return false;
    }
    if (nameLength < 0 || nameLength >= TEXT_LINE_SIZE) {
        warning("FaceData::loadXFile() : the face list's name size %d is invalid; the store starts empty.",
                nameLength);
        return false;
    }
    capacity = shiftLength;
    maxNameLength = nameLength;
    for (int i = 0; i < n; i++) {
        bool ok = readTextLine(file, line);
        size_t len = ok ? strlen(line) : 0;
        // A name is one word that stays inside the user's folders.
        ok = ok && len > 0 && (int)len <= nameLength && strcspn(line, " \t/\\") == len &&
             strcmp(line, ".") != 0 && strcmp(line, "..") != 0;
        if (ok) {
            const int place = count;
            names[place] = (char*)allocator->alloc((long)len + 1);
            memcpy(names[place], line, len + 1);
            count = place + 1;
            const CropLoad loaded = loadCrop(place, line);
            if (loaded == CROP_UNREADABLE) {
                // One lost or cut sample file costs that sample only: the others still enroll and
                // adapt the model.
                warning("FaceData::loadXFile() : the crop of sample %s is missing or cut; the sample is skipped.",
                        line);
                allocator->free(names[place]);
                names[place] = nullptr;
                count = place;
                continue;
            }
            ok = loaded == CROP_LOADED;
            if (!ok)
                warning("FaceData::loadXFile() : the crop of sample %s is not %dx%d; the store starts empty.",
                        line, FACE_CROP_WIDTH, FACE_CROP_HEIGHT);
        } else {
            warning("FaceData::loadXFile() : sample name %d of the face list is missing or longer than %d; "
                    "the store starts empty.", i + 1, nameLength);
        }
        if (!ok) {
            emptyStore();
            capacity = places;
            maxNameLength = 2;
            return false;
        }
    }
    currentSlot = count < capacity ? count : capacity - 1;
    return true;
}

void FaceData::loadXFile(XFile* file) { loadList(file); }

void writeCaptureDescription(XFile* file, const FaceInfo* face) {
    CLocaleScope c;
    file->printf("BBX_X %d\n", (int)face->bbx_x);
    file->printf("BBX_Y %d\n", (int)face->bbx_y);
    file->printf("BBX_W %d\n", (int)face->bbx_width);
    file->printf("BBX_H %d\n", (int)face->bbx_height);
    file->printf("EYE_CENTER_L_X %d\n", (int)face->left_eye_x);
    file->printf("EYE_CENTER_L_Y %d\n", (int)face->left_eye_y);
    file->printf("EYE_CENTER_R_X %d\n", (int)face->right_eye_x);
    file->printf("EYE_CENTER_R_Y %d\n", (int)face->right_eye_y);
    file->printf("SCORE %g\n", (double)face->score);
    // Truncated toward zero; an angle that is no number has no view.
    const real angle = face->angle;
    file->printf("VIEW %d\n", std::isfinite(angle) && std::fabs(angle) < 2e9f ? (int)angle : 0);
    file->printf(face->inplane ? "INPLANE T\n" : "INPLANE F\n");
    file->printf(face->outplane ? "OUTPLANE T\n" : "OUTPLANE F\n");
}

bool readCaptureDescription(XFile* file, FaceInfo* face) {
    CLocaleScope c;
    char line[TEXT_LINE_SIZE];
    int v[8];
    for (int& x : v)
        if (!readTextLine(file, line) || !textLineInt(line, &x))
            return false;
    if (!readTextLine(file, line))
        return false;
    const char* scoreText = textLineValue(line);
    char* end = nullptr;
    float score = strtof(scoreText, &end);
    if (end == scoreText)
        return false;
    int view;
    if (!readTextLine(file, line) || !textLineInt(line, &view))
        return false;
    bool flags[2];
    for (bool& flag : flags) {
        if (!readTextLine(file, line))
            return false;
        flag = *textLineValue(line) == 'T';
    }
    face->bbx_x = v[0];
    face->bbx_y = v[1];
    face->bbx_width = v[2];
    face->bbx_height = v[3];
    face->left_eye_x = v[4];
    face->left_eye_y = v[5];
    face->right_eye_x = v[6];
    face->right_eye_y = v[7];
    face->score = score;
    face->angle = (real)view;
    face->inplane = flags[0];
    face->outplane = flags[1];
    return true;
}

}  // namespace vision
