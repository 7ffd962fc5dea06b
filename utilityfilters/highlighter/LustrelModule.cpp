// "Lustrel.ax": the highlighting filter's module.
#include "utilityfilters/highlighter/HighlightingFilter.h"
#include "visionlib/filter/FilterModule.h"

CFactoryTemplate g_Templates[] = {
    {L"Strelmont Face Highlighter Filter", &CLSID_HighlightingFilter, HighlightingFilter::CreateInstance, nullptr,
     &HighlightingFilterSetup},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);
