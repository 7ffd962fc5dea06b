// The toolkit's console application for the whole test program: the configuration file class and
// the standard paths need an application object.
#include <gtest/gtest.h>

#include <wx/app.h>
#include <wx/init.h>

namespace {
class ToolkitEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(wxInitialize()); }
    void TearDown() override { wxUninitialize(); }
};
::testing::Environment* const g_toolkit = ::testing::AddGlobalTestEnvironment(new ToolkitEnvironment);
}  // namespace
