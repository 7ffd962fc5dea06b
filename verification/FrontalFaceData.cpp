#include "verification/FaceData.h"

#include "visionlib/Allocator.h"
#include "visionlib/FaceModel.h"
#include "visionlib/Image.h"
#include "visionlib/Message.h"
#include "visionlib/Sequence.h"
#include "visionlib/filter/FaceInfo.h"
#include "visionlib/ipFaceExtract.h"

namespace vision {

FrontalFaceData::FrontalFaceData(UserInfo* identity_, int width, int height, int capacity_,
                                 const char* directory_, bool saveData_, bool saveBackup_, int verbose_,
                                 bool binaryCrops_)
    : FaceData(identity_, width, height, capacity_, directory_, saveData_, saveBackup_, verbose_, binaryCrops_),
      faceModel(nullptr) {
    faceModel = new (allocator) FrontalFace64x80(1);
    faceModel->setNumberOfPoints(2);
    if (verbose > 2)
        faceModel->setBoolOption("verbose", true);
}

FrontalFaceData::~FrontalFaceData() {}

void FrontalFaceData::processFace(Sequence* frame, FaceInfo* face) {
    ipFaceExtract* extract = new (allocator)
        ipFaceExtract(frameWidth, frameHeight, FACE_CROP_WIDTH, FACE_CROP_HEIGHT, "gray", faceModel, 0, 0, 0, 0, 1);
    if (verbose > 2)
        extract->setBoolOption("verbose", true);
    // Only the eye centres of the record place the crop; the extraction moves them, so set them anew.
    faceModel->setNumberOfPoints(2);
    faceModel->setPoint(0, (double)face->left_eye_x, (double)face->left_eye_y);
    faceModel->setPoint(1, (double)face->right_eye_x, (double)face->right_eye_y);
    faceModel->leye_index = 0;
    faceModel->reye_index = 1;
    if (verbose > 2)
        message(" + Eyes (%.1f-%.1f) - (%.1f-%.1f)", (double)face->left_eye_x, (double)face->left_eye_y,
                (double)face->right_eye_x, (double)face->right_eye_y);
    extract->process(frame);
    allocator->free(images[currentSlot]);
    ImageGray* crop = new (allocator) ImageGray(FACE_CROP_WIDTH, FACE_CROP_HEIGHT);
    crop->copyFrom(FACE_CROP_WIDTH, FACE_CROP_HEIGHT, extract->output->frames[0], extract->coding, 255);
    images[currentSlot] = crop;
    allocator->free(extract);
}

}  // namespace vision
