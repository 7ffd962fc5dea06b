#pragma once
// Answers one question for the camera selection: can this camera's picture reach the face
// detector at the configured size, directly or through the image scaler? Each test builds the
// connections and tears them down again; the graph never runs.
#include "app/capture/CaptureGraphManager.h"

class TestGraphManager : public CaptureGraphManager {
public:
    explicit TestGraphManager(Logger* logger);
    ~TestGraphManager() override;
    void releaseFilters() override;

    bool testResolution(const std::string& cameraName, unsigned width, unsigned height);
};
