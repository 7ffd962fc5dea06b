// "Tamsel.ax": the scaling filter's module.
#include "utilityfilters/scaler/ScalingFilter.h"
#include "visionlib/filter/FilterModule.h"

CFactoryTemplate g_Templates[] = {
    {L"Strelmont Image Scaler Filter", &CLSID_ScalingFilter, ScalingFilter::CreateInstance, nullptr,
     &ScalingFilterSetup},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);
