#include "app/gui/CustomControls.h"

#include <wx/dcbuffer.h>
#include <wx/dcclient.h>
#include <wx/dcmemory.h>
#include <wx/tokenzr.h>

// ---- CustomGauge ----

wxIMPLEMENT_DYNAMIC_CLASS(CustomGauge, wxControl);

wxBEGIN_EVENT_TABLE(CustomGauge, wxControl)
    EVT_PAINT(CustomGauge::onPaint)
    EVT_SIZE(CustomGauge::onSize)
wxEND_EVENT_TABLE()

CustomGauge::CustomGauge()
    : maximum(1), minimum(0), value(0), marker(NO_MARKER), dirty(true), bordered(false),
      borderColour(*wxBLACK), markerColour(*wxBLUE), orientation(1), cache(nullptr) {}

CustomGauge::CustomGauge(wxWindow* parent, wxWindowID id, int maximum, int minimum, int marker,
                         const wxPoint& position, const wxSize& size, int orientation, bool bordered,
                         const wxValidator& validator, const wxString& name)
    : maximum(maximum), minimum(minimum), value(minimum), marker(marker), dirty(true), bordered(bordered),
      borderColour(*wxBLACK), markerColour(*wxBLUE), orientation(orientation), cache(nullptr) {
    Create(parent, id, position, size, wxBORDER_NONE, validator, name);
    // The whole client area is drawn from the cache, so the toolkit need not erase it first.
    SetBackgroundStyle(wxBG_STYLE_PAINT);
}

CustomGauge::~CustomGauge() { delete cache; }

int CustomGauge::barLength(int value, int minimum, int maximum, int length) {
    const long long range = static_cast<long long>(maximum) - minimum;
    if (range <= 0) return 0;
    return static_cast<int>((static_cast<long long>(value) - minimum) * length / range);
}

void CustomGauge::setValue(int v) {
    if (v < minimum) v = minimum;
    if (v == value) return;
    value = v;
    dirty = true;
    Refresh(true);
}

void CustomGauge::setBorderColour(const wxColour& colour) {
    borderColour = colour;
    dirty = true;
    Refresh(true);
}

void CustomGauge::colourByScore(int value, int bad, int good) {
    if (value < bad)
        SetForegroundColour(*wxRED);
    else if (value < good)
        SetForegroundColour(wxTheColourDatabase->Find("YELLOW"));
    else
        SetForegroundColour(*wxGREEN);
}

void CustomGauge::setMarkerColour(const wxColour& colour) {
    markerColour = colour;
    dirty = true;
    Refresh(true);
}

void CustomGauge::onSize(wxSizeEvent& event) {
    dirty = true;
    Refresh(true);
    event.Skip();
}

void CustomGauge::updateCache() {
    if (dirty) drawCache();
}

void CustomGauge::drawCache() {
    const wxSize client = GetClientSize();
    const int w = client.GetWidth(), h = client.GetHeight();
    if (w <= 0 || h <= 0) return;  // nothing to draw into yet; stays dirty
    if (!cache || cache->GetWidth() != w || cache->GetHeight() != h) {
        delete cache;
        cache = new wxBitmap(w, h);
    }
    wxMemoryDC dc(*cache);
    dc.SetBackground(wxBrush(GetBackgroundColour(), wxBRUSHSTYLE_SOLID));
    dc.Clear();

    const wxColour bar = GetForegroundColour();
    dc.SetBrush(wxBrush(bar, wxBRUSHSTYLE_SOLID));
    dc.SetPen(wxPen(bar, 1, wxPENSTYLE_SOLID));
    if (orientation == 1) {
        const int b = barLength(value, minimum, maximum, h);
        if (b > 0) dc.DrawRectangle(0, h - b, w, b);
    } else {
        const int b = barLength(value, minimum, maximum, w);
        if (b > 0) dc.DrawRectangle(0, 0, b, h);
    }

    if (marker != NO_MARKER) {
        dc.SetPen(wxPen(markerColour, 1, wxPENSTYLE_SOLID));
        if (orientation == 1) {
            const int y = h - barLength(marker, minimum, maximum, h);
            dc.DrawLine(0, y, w, y);
        } else {
            const int x = barLength(marker, minimum, maximum, w);
            dc.DrawLine(x, 0, x, h);
        }
    }

    if (bordered) {
        dc.SetPen(wxPen(borderColour, 1, wxPENSTYLE_SOLID));
        dc.SetBrush(*wxTRANSPARENT_BRUSH);
        dc.DrawLine(0, 0, w - 1, 0);
        dc.DrawLine(w - 1, 0, w - 1, h - 1);
        dc.DrawLine(w - 1, h - 1, 0, h - 1);
        dc.DrawLine(0, h - 1, 0, 0);
    }
    dc.SetPen(wxNullPen);
    dc.SetBrush(wxNullBrush);
    dc.SelectObject(wxNullBitmap);
    dirty = false;
}

void CustomGauge::onPaint(wxPaintEvent&) {
    wxPaintDC dc(this);
    if (dirty) drawCache();
    if (cache && cache->IsOk()) dc.DrawBitmap(*cache, 0, 0, false);
}

// ---- ImagePanel ----

wxIMPLEMENT_DYNAMIC_CLASS(ImagePanel, wxWindow);

wxBEGIN_EVENT_TABLE(ImagePanel, wxWindow)
    EVT_PAINT(ImagePanel::onPaint)
wxEND_EVENT_TABLE()

ImagePanel::ImagePanel(wxWindow* parent, wxWindowID id, const wxPoint& position, const wxSize& size, long style,
                       const wxString& name)
    : wxWindow(parent, id, position, size, style, name) {}

ImagePanel::~ImagePanel() { delete bitmap; }

void ImagePanel::setBitmap(wxBitmap* picture) {
    if (picture != bitmap) delete bitmap;
    bitmap = picture;
    Refresh();
}

namespace {
// The "\n"-separated pieces of a label; a trailing "\n" makes no empty last piece.
wxArrayString labelLines(const wxString& text) {
    wxArrayString lines = wxSplit(text, '\n', '\0');
    if (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
}
}  // namespace

wxSize ImagePanel::setLabel(int id, const wxString& text, const wxPoint& position) {
    Label label;
    label.text = text;
    label.x = position.x;
    label.y = position.y;
    wxClientDC dc(this);
    dc.SetFont(GetFont());
    for (const wxString& line : labelLines(text)) {
        wxCoord lw = 0, lh = 0;
        dc.GetTextExtent(line, &lw, &lh);
        label.width = std::max(label.width, static_cast<int>(lw));
        label.height += lh;
        label.lineHeight = lh;
    }
    labels[id] = label;
    return wxSize(label.width, label.height);
}

void ImagePanel::setLabelPosition(int id, const wxPoint& position) {
    auto it = labels.find(id);
    if (it == labels.end()) return;
    it->second.x = position.x;
    it->second.y = position.y;
}

wxSize ImagePanel::getLabelSize(int id) const {
    auto it = labels.find(id);
    if (it == labels.end()) return wxDefaultSize;
    return wxSize(it->second.width, it->second.height);
}

void ImagePanel::onPaint(wxPaintEvent&) {
    wxPaintDC dc(this);
    if (bitmap && bitmap->IsOk()) dc.DrawBitmap(*bitmap, 0, 0, true);
    dc.SetFont(GetFont());
    for (const auto& entry : labels) {
        const Label& label = entry.second;
        int y = label.y;
        for (const wxString& line : labelLines(label.text)) {
            dc.DrawText(line, label.x, y);
            y += label.lineHeight;
        }
    }
}

// ---- VerticalStaticText ----

wxIMPLEMENT_DYNAMIC_CLASS(VerticalStaticText, wxControl);

wxBEGIN_EVENT_TABLE(VerticalStaticText, wxControl)
    EVT_PAINT(VerticalStaticText::onPaint)
wxEND_EVENT_TABLE()

VerticalStaticText::VerticalStaticText(wxWindow* parent, wxWindowID id, const wxString& label,
                                       const wxPoint& position, const wxSize& size, const wxString& name) {
    Create(parent, id, position, size, wxBORDER_NONE, wxDefaultValidator, name);
    SetLabel(label);
    wxClientDC dc(this);
    dc.SetFont(GetFont());
    wxCoord tw = 0, th = 0;
    dc.GetTextExtent(label, &tw, &th);
    // The text turned upright: its height across, its width (and a little room) along.
    SetSize(th, tw + 4);
}

void VerticalStaticText::onPaint(wxPaintEvent&) {
    wxPaintDC dc(this);
    wxFont font = GetFont();
    font.SetStyle(wxFONTSTYLE_ITALIC);
    dc.SetFont(font);
    dc.SetTextForeground(GetForegroundColour());
    dc.DrawRotatedText(GetLabel(), 0, GetClientSize().GetHeight(), 90.0);
}
