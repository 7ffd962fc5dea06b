#include "app/capture/ApplicationServices.h"

#include <atomic>

namespace {
std::atomic<ApplicationServices*> g_application{nullptr};
}

ApplicationServices* application() { return g_application.load(); }

void setApplication(ApplicationServices* app) { g_application.store(app); }
