#include "src/DSF_GraphManager.h"
#include "tests/common/app_fixtures.h"

using DirectShowFramework::GraphManager;

namespace {

const std::string kVideoCategory = "{860BB310-5D01-11D0-BD3B-00A0C911CE86}";

}  // namespace

using Devices = CameraEnvironment;

TEST_F(Devices, NoDeviceGivesTheClassEnumeratorBlockAndAnEmptyList) {
    RecordingLogger logger;
    GraphManager manager(&logger);
    EXPECT_EQ(nullptr, manager.findFilter(CLSID_VideoInputDeviceCategory, "Office"));
    EXPECT_EQ("Search for a filter to class " + kVideoCategory + " with the name 'Office'...", logger.lines[0].text);
    EXPECT_EQ("ERROR: Failed to create the device's class enumerator", logger.lines[1].text);
    EXPECT_EQ("Error code: 0X1", logger.lines[2].text);
    EXPECT_EQ("Method:     DirectShowFramework::GraphManager::findFilter", logger.lines[3].text);
    EXPECT_FALSE(logger.has("No filter found"));

    logger.clear();
    EXPECT_TRUE(manager.enumerateVideoCaptureDevices().empty());
    EXPECT_EQ("Enumeration of the video capture devices...", logger.lines[0].text);
    EXPECT_EQ("Enumeration of the devices of type " + kVideoCategory, logger.lines[1].text);
    EXPECT_EQ("Method:     DirectShowFramework::GraphManager::enumerateDevices", logger.lines[4].text);
    EXPECT_EQ("Found 0 video capture devices", logger.lines.back().text);
    EXPECT_EQ(1u, logger.lines.back().indent);
}

TEST_F(Devices, DuplicatesFailuresAndExactNames) {
    const std::string folder = frames("f", 32, 24, 1);
    const std::string longName(100, 'L');
    declare("Cam | " + folder + " | fail=bind\n" +    // cannot be bound
            "Unreadable | " + folder + " | fail=properties\n" +
            "Nameless | " + folder + " | fail=name\n" +
            "Cam | " + folder + " | pins=preview\n" +  // the one that can be had
            longName + " | " + folder + "\n");
    RecordingLogger logger;
    GraphManager manager(&logger);

    std::vector<std::string> names = manager.enumerateVideoCaptureDevices();
    EXPECT_EQ((std::vector<std::string>{"Cam", "Cam", longName}), names);
    EXPECT_TRUE(logger.has("ERROR: Device found, failed to retrieve its properties"));
    EXPECT_TRUE(logger.has("ERROR: Device found, failed to retrieve its friendly name"));
    EXPECT_EQ(2, logger.count("Device found, name = Cam"));
    EXPECT_EQ("Found 3 video capture devices", logger.lines.back().text);

    logger.clear();
    IBaseFilter* cam = manager.findFilter(CLSID_VideoInputDeviceCategory, "Cam");
    ASSERT_NE(nullptr, cam);
    int bindError = logger.find("ERROR: Failed to retrieve the filter associated with the device");
    int found = logger.find("Filter found");
    EXPECT_GE(bindError, 0);
    EXPECT_GT(found, bindError);
    EXPECT_FALSE(logger.has("No filter found"));
    // The second "Cam" has only a preview pin.
    IPin* pin = manager.getPin(cam, PINDIR_OUTPUT, PIN_CATEGORY_CAPTURE);
    EXPECT_EQ(nullptr, pin);
    pin = manager.getPin(cam, PINDIR_OUTPUT, PIN_CATEGORY_PREVIEW);
    ASSERT_NE(nullptr, pin);
    pin->Release();
    cam->Release();

    logger.clear();
    EXPECT_EQ(nullptr, manager.findFilter(CLSID_VideoInputDeviceCategory, "cam"));
    EXPECT_EQ("No filter found", logger.lines.back().text);
    IBaseFilter* longOne = manager.findFilter(CLSID_VideoInputDeviceCategory, longName);
    ASSERT_NE(nullptr, longOne);
    longOne->Release();

    logger.clear();
    EXPECT_TRUE(manager.hasVideoCaptureDevice("Cam"));
    EXPECT_EQ("Searching the video capture device 'Cam'...", logger.lines[0].text);
    EXPECT_EQ("The video capture device was found", logger.lines.back().text);
    EXPECT_EQ(1u, logger.lines.back().indent);
    EXPECT_FALSE(manager.hasVideoCaptureDevice("CAM"));
    EXPECT_EQ("The video capture device wasn't found", logger.lines.back().text);
}
