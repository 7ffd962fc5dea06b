#pragma once
// The windowless graph of the presence check:
//   camera -> smart tee -(preview)-> [image scaler] -> face detector -> face verificator
// The verification filter keeps its default one-shot mode.
#include "app/capture/CaptureGraphManager.h"

class PresenceCheckerGraphManager : public CaptureGraphManager {
public:
    explicit PresenceCheckerGraphManager(Logger* logger);
    ~PresenceCheckerGraphManager() override;
    void releaseFilters() override;

    bool initialize(const std::string& cameraName, unsigned width, unsigned height,
                    FaceDetectionListener* detectionListener, VerificationListener* verificationListener);
};
