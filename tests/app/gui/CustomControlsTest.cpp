#include <climits>

#include <gtest/gtest.h>
#include <wx/dcmemory.h>
#include <wx/frame.h>
#include <wx/image.h>

#include "app/gui/CustomControls.h"
#include "gui_harness.h"

namespace {

wxImage cacheImage(CustomGauge* gauge) {
    gauge->updateCache();
    EXPECT_NE(gauge->cachedBitmap(), nullptr);
    return gauge->cachedBitmap() ? gauge->cachedBitmap()->ConvertToImage() : wxImage();
}

bool is(const wxImage& image, int x, int y, const wxColour& c) {
    return image.GetRed(x, y) == c.Red() && image.GetGreen(x, y) == c.Green() && image.GetBlue(x, y) == c.Blue();
}

class ControlsTest : public testing::Test {
protected:
    void SetUp() override {
        frame = new wxFrame(nullptr, wxID_ANY, "controls", wxPoint(20, 20), wxSize(420, 320));
        frame->SetBackgroundColour(*wxWHITE);
    }
    void TearDown() override { frame->Destroy(); guitest::pump(20); }
    wxFrame* frame = nullptr;
};

TEST_F(ControlsTest, VerticalGaugeBarAndMarkerFollowTheRange) {
    auto* gauge = new CustomGauge(frame, wxID_ANY, 1000, -500, 400, wxPoint(10, 10), wxSize(20, 240), 1, false);
    gauge->SetForegroundColour(*wxRED);
    gauge->SetBackgroundColour(*wxWHITE);
    gauge->setMarkerColour(wxColour(0, 0, 255));
    gauge->setValue(250);
    const wxImage image = cacheImage(gauge);
    ASSERT_EQ(image.GetHeight(), 240);
    // A bar of 750 x 240 / 1500 = 120 pixels, rising from the bottom; the marker at 240 - 900 x 240 / 1500.
    EXPECT_TRUE(is(image, 5, 239, *wxRED));
    EXPECT_TRUE(is(image, 5, 120, *wxRED));
    EXPECT_TRUE(is(image, 5, 119, *wxWHITE));
    EXPECT_TRUE(is(image, 5, 96, wxColour(0, 0, 255)));
    EXPECT_TRUE(is(image, 5, 95, *wxWHITE));
    EXPECT_TRUE(is(image, 5, 97, *wxWHITE));
}

TEST_F(ControlsTest, GaugeValuesBelowTheMinimumShowAnEmptyBarAndAnUnchangedValueDoesNotRedraw) {
    auto* gauge = new CustomGauge(frame, wxID_ANY, 1000, -500, CustomGauge::NO_MARKER, wxPoint(10, 10),
                                  wxSize(20, 100), 1, false);
    gauge->SetForegroundColour(*wxRED);
    gauge->SetBackgroundColour(*wxWHITE);
    gauge->setValue(1000);
    EXPECT_TRUE(is(cacheImage(gauge), 5, 0, *wxRED));
    gauge->setValue(INT_MIN);  // a frame without a face
    EXPECT_EQ(gauge->getValue(), -500);
    const wxImage empty = cacheImage(gauge);
    for (int y = 0; y < 100; y += 9) EXPECT_TRUE(is(empty, 5, y, *wxWHITE)) << y;
    EXPECT_FALSE(gauge->isDirty());
    gauge->setValue(INT_MIN);
    EXPECT_FALSE(gauge->isDirty());
    gauge->setValue(5000);  // above the maximum: the whole bar
    EXPECT_TRUE(is(cacheImage(gauge), 5, 0, *wxRED));
}

TEST_F(ControlsTest, MarkerBelowTheRangeAndBorderAndHorizontalBar) {
    // The detection gauges: marker -1 on a 0..200 gauge falls just outside the bitmap.
    auto* vertical = new CustomGauge(frame, wxID_ANY, 200, 0, -1, wxPoint(10, 10), wxSize(10, 50), 1, true);
    vertical->SetForegroundColour(*wxGREEN);
    vertical->SetBackgroundColour(*wxWHITE);
    vertical->setBorderColour(wxColour(183, 183, 183));
    vertical->setMarkerColour(*wxBLUE);
    const wxImage v = cacheImage(vertical);
    for (int y = 1; y < 49; ++y) EXPECT_TRUE(is(v, 5, y, *wxWHITE)) << y;
    EXPECT_TRUE(is(v, 0, 20, wxColour(183, 183, 183)));
    EXPECT_TRUE(is(v, 9, 20, wxColour(183, 183, 183)));
    EXPECT_TRUE(is(v, 5, 49, wxColour(183, 183, 183)));

    auto* horizontal = new CustomGauge(frame, wxID_ANY, 100, 0, 50, wxPoint(40, 10), wxSize(100, 8), 0, false);
    horizontal->SetForegroundColour(*wxRED);
    horizontal->SetBackgroundColour(*wxWHITE);
    horizontal->setMarkerColour(*wxBLUE);
    horizontal->setValue(25);
    const wxImage h = cacheImage(horizontal);
    EXPECT_TRUE(is(h, 24, 4, *wxRED));
    EXPECT_TRUE(is(h, 25, 4, *wxWHITE));
    EXPECT_TRUE(is(h, 50, 4, *wxBLUE));
}

TEST_F(ControlsTest, GaugeWithoutARangeDrawsNoBar) {
    auto* gauge = new CustomGauge(frame, wxID_ANY, 0, 0, 0, wxPoint(10, 10), wxSize(10, 40), 1, false);
    gauge->SetForegroundColour(*wxRED);
    gauge->SetBackgroundColour(*wxWHITE);
    gauge->setValue(100);
    EXPECT_TRUE(is(cacheImage(gauge), 5, 39, *wxWHITE));
    EXPECT_EQ(CustomGauge::barLength(100, 0, 0, 40), 0);
}

TEST_F(ControlsTest, ImagePanelMeasuresLinesAndKeepsLabelOrder) {
    auto* panel = new ImagePanel(frame, wxID_ANY, wxPoint(0, 0), wxSize(400, 300));
    const wxSize one = panel->setLabel(5, "Line", wxPoint(0, 0));
    ASSERT_GT(one.GetHeight(), 0);
    const wxSize three = panel->setLabel(1, "first\nsecond line\nthird", wxPoint(20, 40));
    EXPECT_EQ(three.GetHeight(), 3 * panel->getLabels().at(1).lineHeight);
    EXPECT_GE(three.GetWidth(), one.GetWidth());
    EXPECT_EQ(panel->setLabel(2, "ends\n", wxPoint(0, 0)).GetHeight(), one.GetHeight());
    EXPECT_EQ(panel->setLabel(3, "", wxPoint(0, 0)), wxSize(0, 0));
    EXPECT_EQ(panel->getLabelSize(42), wxDefaultSize);
    panel->setLabelPosition(42, wxPoint(1, 1));  // unknown: ignored
    EXPECT_EQ(panel->getLabels().count(42), 0u);

    // Replacing a label keeps its place in the painting order (ids in ascending order).
    panel->setLabel(1, "replaced", wxPoint(60, 60));
    std::vector<int> ids;
    for (const auto& e : panel->getLabels()) ids.push_back(e.first);
    EXPECT_EQ(ids, (std::vector<int>{1, 2, 3, 5}));
    panel->setLabelPosition(5, wxPoint(7, 9));
    EXPECT_EQ(panel->getLabels().at(5).x, 7);
    EXPECT_EQ(panel->getLabels().at(5).y, 9);
}

TEST_F(ControlsTest, VerticalTextIsSizedToTheTurnedLabel) {
    auto* text = new VerticalStaticText(frame, wxID_ANY, "Face detection confidence");
    wxMemoryDC dc;
    wxBitmap scratch(1, 1);
    dc.SelectObject(scratch);
    dc.SetFont(text->GetFont());
    wxCoord tw = 0, th = 0;
    dc.GetTextExtent("Face detection confidence", &tw, &th);
    EXPECT_EQ(text->GetSize(), wxSize(th, tw + 4));
}

TEST_F(ControlsTest, ScreenshotOfTheControls) {
    auto* panel = new ImagePanel(frame, wxID_ANY, wxPoint(0, 0), wxSize(420, 320));
    wxBitmap* picture = new wxBitmap(420, 320);
    {
        wxMemoryDC dc(*picture);
        dc.SetBackground(wxBrush(wxColour(220, 235, 245)));
        dc.Clear();
    }
    panel->setBitmap(picture);
    panel->setLabel(0, "Three lines\nof a label\ndrawn by the panel", wxPoint(150, 40));
    auto* detection = new CustomGauge(panel, wxID_ANY, 200, 0, -1, wxPoint(30, 40), wxSize(10, 240), 1, true);
    detection->SetForegroundColour(wxTheColourDatabase->Find("YELLOW"));
    detection->SetBackgroundColour(*wxWHITE);
    detection->setBorderColour(wxColour(183, 183, 183));
    detection->setValue(120);
    auto* verification = new CustomGauge(panel, wxID_ANY, 1000, -500, 400, wxPoint(39, 40), wxSize(10, 240), 1, true);
    verification->SetForegroundColour(*wxGREEN);
    verification->SetBackgroundColour(*wxWHITE);
    verification->setBorderColour(wxColour(183, 183, 183));
    verification->setMarkerColour(wxColour(183, 183, 183));
    verification->setValue(700);
    auto* caption = new VerticalStaticText(panel, wxID_ANY, "Face authentication confidence");
    caption->Move(70, 280 - caption->GetSize().GetHeight());
    frame->Show();
    guitest::pump(200);
    EXPECT_FALSE(guitest::screenshot(frame, "custom_controls").empty());
    // The verification bar as painted on screen: green near the bottom.
    EXPECT_EQ(guitest::pixelAt(verification, 5, 230), 0x00FF00ul);
}

}  // namespace
