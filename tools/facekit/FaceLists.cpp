#include "tools/facekit/FaceLists.h"

#include <cmath>
#include <fstream>
#include <sstream>

#include "tools/facekit/Images.h"

namespace facekit {

const Eyes kLfwEyes = {42, 45, 70, 45};
const Eyes kUtkEyes = {29, 29, 69, 29};

Box boxFromEyes(const Eyes& e) {
    const float d = std::hypot(e.right_x - e.left_x, e.right_y - e.left_y);
    const float w = 1.9f * d;
    return {(e.left_x + e.right_x) * 0.5f - w * 0.5f, (e.left_y + e.right_y) * 0.5f - 0.5f * d, w};
}

std::map<std::string, std::vector<MarkedFace>> readMarkedFaces(const std::string& dir) {
    std::map<std::string, std::vector<MarkedFace>> truth;
    std::ifstream boxes(dir + "/boxes.txt"), marks(dir + "/landmarks.txt");
    std::string bl, ml;
    while (std::getline(boxes, bl) && std::getline(marks, ml)) {
        std::istringstream b(bl), m(ml);
        std::string name, name2;
        MarkedFace f;
        b >> name >> f.x >> f.y >> f.w >> f.h;
        m >> name2 >> f.eyes.left_x >> f.eyes.left_y >> f.eyes.right_x >> f.eyes.right_y;
        if (!b || !m || name != name2) continue;
        truth[name].push_back(f);
    }
    return truth;
}

std::vector<EyeFace> readWebFaces(const std::string& dir) {
    std::vector<EyeFace> faces;
    std::ifstream list(dir + "/faces.txt");
    std::string line;
    while (std::getline(list, line)) {
        std::istringstream in(line);
        std::string name;
        EyeFace f;
        in >> name >> f.eyes.left_x >> f.eyes.left_y >> f.eyes.right_x >> f.eyes.right_y;
        if (!in) continue;
        f.path = dir + "/" + name;
        faces.push_back(f);
    }
    return faces;
}

std::vector<EyeFace> lfwFaces(const std::string& dir) {
    std::vector<EyeFace> faces;
    for (const std::string& person : subFolders(dir))
        for (const std::string& path : listFiles(person, {".jpg"})) faces.push_back({path, kLfwEyes});
    return faces;
}

std::vector<EyeFace> utkFaces(const std::string& dir) {
    std::vector<EyeFace> faces;
    for (const std::string& path : listFiles(dir, {".jpg"})) faces.push_back({path, kUtkEyes});
    return faces;
}

}  // namespace facekit
