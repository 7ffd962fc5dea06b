// "Drovane.ax": the face detection filter's module.
#include "detection/filter/DetectionFilter.h"
#include "visionlib/filter/FilterModule.h"

CFactoryTemplate g_Templates[] = {
    {L"Strelmont Face Detector Filter", &CLSID_DetectionFilter, DetectionFilter::CreateInstance, nullptr,
     &DetectionFilterSetup},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);
