#include "src/DSF_GraphManager.h"
#include "tests/common/app_fixtures.h"
#include "utilityfilters/highlighter/IHighlighting.h"
#include "utilityfilters/scaler/ITamsel.h"

using DirectShowFramework::GraphManager;

namespace {

bool registered(REFCLSID clsid) { return !tarvelo::com::inprocServerPath(clsid).empty(); }

}  // namespace

// The module registry is process-wide and keeps its entries, so each test uses its own module.
TEST(ModuleRegistry, ModuleSharedByTwoManagersRegistersOnceAndGoesWithTheLast) {
    ASSERT_FALSE(registered(CLSID_ScalingFilter));
    RecordingLogger logger;
    auto* first = new GraphManager(&logger);
    auto* second = new GraphManager(&logger);
    ASSERT_TRUE(first->loadModule("Tamsel.ax"));
    EXPECT_EQ((std::vector<std::string>{"Loading the module 'Tamsel.ax'...", "Module successfully loaded"}),
              logger.texts());
    EXPECT_TRUE(registered(CLSID_ScalingFilter));
    // A second registration would enter the class again: take it out to see that none happens.
    tarvelo::com::unregisterInprocServer(CLSID_ScalingFilter);
    logger.clear();
    ASSERT_TRUE(second->loadModule("Tamsel.ax"));
    EXPECT_EQ("Module already loaded, now referenced 2 times", logger.lines[1].text);
    EXPECT_EQ(1u, logger.lines[1].indent);
    EXPECT_FALSE(registered(CLSID_ScalingFilter));
    tarvelo::com::registerInprocServer(CLSID_ScalingFilter, "Tamsel.ax", "Both");

    logger.clear();
    first->unloadModule("Tamsel.ax");
    delete first;
    EXPECT_TRUE(registered(CLSID_ScalingFilter));
    EXPECT_NE(nullptr, GraphManager::modules().at("Tamsel.ax").handle);
    second->unloadModule("Tamsel.ax");
    second->unloadModule("Tamsel.ax");  // nothing left to withdraw: no line
    EXPECT_EQ((std::vector<std::string>{"Unloading the module 'Tamsel.ax'...", "The module is now referenced 1 times",
                                        "Unloading the module 'Tamsel.ax'...", "The module is now referenced 0 times",
                                        "Unloading the module 'Tamsel.ax'..."}),
              logger.texts());
    EXPECT_TRUE(registered(CLSID_ScalingFilter));
    delete second;
    EXPECT_FALSE(registered(CLSID_ScalingFilter));
    EXPECT_EQ(nullptr, GraphManager::modules().at("Tamsel.ax").handle);
    EXPECT_EQ(0u, GraphManager::modules().at("Tamsel.ax").count);

    // After the sweep the module is loaded and registered afresh.
    logger.clear();
    GraphManager third(&logger);
    ASSERT_TRUE(third.loadModule("Tamsel.ax"));
    EXPECT_TRUE(logger.has("Module successfully loaded"));
    EXPECT_TRUE(registered(CLSID_ScalingFilter));
    third.unloadModule("Tamsel.ax");
}

TEST(ModuleRegistry, UnusedModuleStaysLoadedWhileAnotherManagerLives) {
    RecordingLogger logger;
    GraphManager keeper(nullptr);
    {
        GraphManager user(&logger);
        ASSERT_TRUE(user.loadModule("Lustrel.ax"));
        user.unloadModule("Lustrel.ax");
    }
    EXPECT_TRUE(registered(CLSID_HighlightingFilter));
    tarvelo::com::unregisterInprocServer(CLSID_HighlightingFilter);
    logger.clear();
    {
        GraphManager user(&logger);
        ASSERT_TRUE(user.loadModule("Lustrel.ax"));
        EXPECT_EQ("Module already loaded, now referenced 1 times", logger.lines[1].text);
        EXPECT_FALSE(registered(CLSID_HighlightingFilter));  // DllRegisterServer not called again
        user.unloadModule("Lustrel.ax");
    }
    tarvelo::com::registerInprocServer(CLSID_HighlightingFilter, "Lustrel.ax", "Both");
}
