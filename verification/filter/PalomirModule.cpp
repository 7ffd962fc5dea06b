// "Palomir.ax": the face verification filter's module.
#include "verification/filter/VerificationFilter.h"
#include "visionlib/filter/FilterModule.h"

CFactoryTemplate g_Templates[] = {
    {L"Strelmont Face Verificator Filter", &CLSID_VerificationFilter, VerificationFilter::CreateInstance, nullptr,
     &VerificationFilterSetup},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);
