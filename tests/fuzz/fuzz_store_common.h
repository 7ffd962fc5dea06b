#pragma once
// The per-user folders of one user (jdoe, id 42) holding two whole binary crops, s1 and s2, as the
// enrollment thread finds them.
#include <cstdint>
#include <cstring>

#include "fuzz_common.h"
#include "verification/FaceData.h"
#include "verification/UserInfo.h"
#include "visionlib/Sequence.h"
#include "visionlib/filter/FaceInfo.h"

namespace fuzz {

inline vision::UserInfo& storeIdentity() {
    static vision::UserInfo identity(42, "jdoe", "John", "Doe", 1970, 'M');
    return identity;
}

// The "users" folder; its user folder holds "data/s1.cro" and "data/s2.cro".
inline const std::string& storeFolder() {
    static const std::string users = [] {
        const std::string u = path("users");
        const std::string data = u + "/jdoe_0042/data";
        if (std::system(("mkdir -p '" + data + "'").c_str()) != 0) std::abort();
        std::string crop(8 + 64 * 80, '\0');
        const int32_t size[2] = {64, 80};
        std::memcpy(&crop[0], size, 8);
        for (size_t i = 8; i < crop.size(); i++) crop[i] = (char)texture(i);
        writeFile(data + "/s1.cro", crop);
        writeFile(data + "/s2.cro", crop);
        return u;
    }();
    return users;
}

// A textured W x H gray frame (values 0 to 255) with one face whose eyes sit level, 33 pixels apart.
struct FaceFrame {
    static const int W = 96, H = 80;
    vision::Sequence gray{1, W * H};
    vision::FaceInfo face;
    FaceFrame() {
        for (int i = 0; i < W * H; i++) gray.frames[0][i] = texture(i);
        face.left_eye_x = 30;
        face.left_eye_y = 30;
        face.right_eye_x = 63;
        face.right_eye_y = 30;
    }
};

}  // namespace fuzz
