#pragma once
// Small controls of the unlock screen and the enrollment page: a score gauge drawn into a cached
// bitmap, a picture panel with positioned text labels, and a label drawn turned by 90 degrees.
#include <climits>
#include <map>

#include <wx/bitmap.h>
#include <wx/control.h>
#include <wx/window.h>

// A narrow bar showing a score in thousandths, with an optional threshold line. The bar is the
// foreground colour, the rest the background colour.
class CustomGauge : public wxControl {
public:
    static constexpr int NO_MARKER = INT_MIN;

    CustomGauge(wxWindow* parent, wxWindowID id, int maximum, int minimum, int marker,
                const wxPoint& position = wxDefaultPosition, const wxSize& size = wxDefaultSize,
                int orientation = 1, bool bordered = true, const wxValidator& validator = wxDefaultValidator,
                const wxString& name = "gauge");
    ~CustomGauge() override;

    void setValue(int v);
    void setBorderColour(const wxColour& colour);
    void setMarkerColour(const wxColour& colour);
    // Red below bad, yellow below good, green from good on.
    void colourByScore(int value, int bad, int good);

    int getValue() const { return value; }
    int getMinimum() const { return minimum; }
    int getMaximum() const { return maximum; }
    int getMarker() const { return marker; }
    bool isDirty() const { return dirty; }
    // The drawn gauge, or null before the first paint.
    const wxBitmap* cachedBitmap() const { return cache; }
    // Draws the cache now when it is out of date (the paint handler does the same).
    void updateCache();

    // Bar length in pixels for a value, and the marker's pixel position along the bar, for a bar
    // `length` pixels long; a range that is not positive gives 0.
    static int barLength(int value, int minimum, int maximum, int length);

protected:
    wxSize DoGetBestSize() const override { return GetSize(); }

private:
    void onPaint(wxPaintEvent& event);
    void onSize(wxSizeEvent& event);
    void drawCache();
    CustomGauge();

    int maximum;
    int minimum;
    int value;
    int marker;
    bool dirty;
    bool bordered;
    wxColour borderColour;
    wxColour markerColour;
    int orientation;
    wxBitmap* cache;

    wxDECLARE_DYNAMIC_CLASS_NO_COPY(CustomGauge);
    wxDECLARE_EVENT_TABLE();
};

// Paints a picture and any number of text labels, each at its own place.
class ImagePanel : public wxWindow {
public:
    struct Label {
        wxString text;
        int x = 0, y = 0;
        int width = 0, height = 0;
        int lineHeight = 0;
    };

    ImagePanel(wxWindow* parent, wxWindowID id, const wxPoint& position = wxDefaultPosition,
               const wxSize& size = wxDefaultSize, long style = wxTAB_TRAVERSAL, const wxString& name = "panel");
    ~ImagePanel() override;

    void setBitmap(wxBitmap* bitmap);
    wxSize setLabel(int id, const wxString& text, const wxPoint& position);
    void setLabelPosition(int id, const wxPoint& position);
    wxSize getLabelSize(int id) const;
    const std::map<int, Label>& getLabels() const { return labels; }

private:
    void onPaint(wxPaintEvent& event);
    ImagePanel() = default;

    wxBitmap* bitmap = nullptr;
    std::map<int, Label> labels;

    wxDECLARE_DYNAMIC_CLASS_NO_COPY(ImagePanel);
    wxDECLARE_EVENT_TABLE();
};

// The control's label, in italics, reading upwards from the bottom-left corner.
class VerticalStaticText : public wxControl {
public:
    VerticalStaticText(wxWindow* parent, wxWindowID id, const wxString& label,
                       const wxPoint& position = wxDefaultPosition, const wxSize& size = wxDefaultSize,
                       const wxString& name = "verticalStaticText");

protected:
    wxSize DoGetBestSize() const override { return GetSize(); }

private:
    void onPaint(wxPaintEvent& event);
    VerticalStaticText() = default;

    wxDECLARE_DYNAMIC_CLASS_NO_COPY(VerticalStaticText);
    wxDECLARE_EVENT_TABLE();
};
