// The graph runtime of the platform stand-in: the filter graph manager (CLSID_FilterGraph), the
// stock filters (CLSID_SmartTee, CLSID_InfTee, CLSID_VideoRenderer), the system device enumerator
// with its capture devices (V4L2 webcams and replay cameras), and the running object table.
//
// The video renderer draws nothing itself: it hands each frame to the frame sink registered for
// its owner window (IVideoWindow::put_Owner), on a presentation thread of its own, so a GUI can
// show the picture without being called from a streaming thread.
//
// Capture devices:
//   - every /dev/video* node that can capture (or the colon-separated list in
//     TARVELO_V4L2_DEVICES; set it empty to hide the webcams), named by the driver's card name;
//   - the replay cameras that the file named by TARVELO_REPLAY_CAMERAS declares (format in
//     platform/capture/ReplayCamera.h).
#pragma once

#include "platform/dshow.h"

#include <cstdint>
#include <string>
#include <vector>

DEFINE_GUID(CLSID_ItemMoniker, 0x00000304, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

struct IBasicVideo : IDispatch {
    virtual HRESULT get_AvgTimePerFrame(REFTIME* time) = 0;
    virtual HRESULT get_BitRate(LONG* rate) = 0;
    virtual HRESULT get_BitErrorRate(LONG* rate) = 0;
    virtual HRESULT get_VideoWidth(LONG* width) = 0;
    virtual HRESULT get_VideoHeight(LONG* height) = 0;
    virtual HRESULT put_SourceLeft(LONG value) = 0;
    virtual HRESULT get_SourceLeft(LONG* value) = 0;
    virtual HRESULT put_SourceWidth(LONG value) = 0;
    virtual HRESULT get_SourceWidth(LONG* value) = 0;
    virtual HRESULT put_SourceTop(LONG value) = 0;
    virtual HRESULT get_SourceTop(LONG* value) = 0;
    virtual HRESULT put_SourceHeight(LONG value) = 0;
    virtual HRESULT get_SourceHeight(LONG* value) = 0;
    virtual HRESULT put_DestinationLeft(LONG value) = 0;
    virtual HRESULT get_DestinationLeft(LONG* value) = 0;
    virtual HRESULT put_DestinationWidth(LONG value) = 0;
    virtual HRESULT get_DestinationWidth(LONG* value) = 0;
    virtual HRESULT put_DestinationTop(LONG value) = 0;
    virtual HRESULT get_DestinationTop(LONG* value) = 0;
    virtual HRESULT put_DestinationHeight(LONG value) = 0;
    virtual HRESULT get_DestinationHeight(LONG* value) = 0;
    virtual HRESULT SetSourcePosition(LONG left, LONG top, LONG width, LONG height) = 0;
    virtual HRESULT GetSourcePosition(LONG* left, LONG* top, LONG* width, LONG* height) = 0;
    virtual HRESULT SetDefaultSourcePosition() = 0;
    virtual HRESULT SetDestinationPosition(LONG left, LONG top, LONG width, LONG height) = 0;
    virtual HRESULT GetDestinationPosition(LONG* left, LONG* top, LONG* width, LONG* height) = 0;
    virtual HRESULT SetDefaultDestinationPosition() = 0;
    virtual HRESULT GetVideoSize(LONG* width, LONG* height) = 0;
    virtual HRESULT GetVideoPaletteEntries(LONG start, LONG count, LONG* retrieved, LONG* palette) = 0;
    virtual HRESULT GetCurrentImage(LONG* bufferSize, LONG* dibImage) = 0;
    virtual HRESULT IsUsingDefaultSource() = 0;
    virtual HRESULT IsUsingDefaultDestination() = 0;
};

struct IVideoWindow : IDispatch {
    virtual HRESULT put_Caption(BSTR caption) = 0;
    virtual HRESULT get_Caption(BSTR* caption) = 0;
    virtual HRESULT put_WindowStyle(LONG style) = 0;
    virtual HRESULT get_WindowStyle(LONG* style) = 0;
    virtual HRESULT put_WindowStyleEx(LONG style) = 0;
    virtual HRESULT get_WindowStyleEx(LONG* style) = 0;
    virtual HRESULT put_AutoShow(LONG autoShow) = 0;
    virtual HRESULT get_AutoShow(LONG* autoShow) = 0;
    virtual HRESULT put_WindowState(LONG state) = 0;
    virtual HRESULT get_WindowState(LONG* state) = 0;
    virtual HRESULT put_BackgroundPalette(LONG palette) = 0;
    virtual HRESULT get_BackgroundPalette(LONG* palette) = 0;
    virtual HRESULT put_Visible(LONG visible) = 0;
    virtual HRESULT get_Visible(LONG* visible) = 0;
    virtual HRESULT put_Left(LONG left) = 0;
    virtual HRESULT get_Left(LONG* left) = 0;
    virtual HRESULT put_Width(LONG width) = 0;
    virtual HRESULT get_Width(LONG* width) = 0;
    virtual HRESULT put_Top(LONG top) = 0;
    virtual HRESULT get_Top(LONG* top) = 0;
    virtual HRESULT put_Height(LONG height) = 0;
    virtual HRESULT get_Height(LONG* height) = 0;
    virtual HRESULT put_Owner(OAHWND owner) = 0;
    virtual HRESULT get_Owner(OAHWND* owner) = 0;
    virtual HRESULT put_MessageDrain(OAHWND drain) = 0;
    virtual HRESULT get_MessageDrain(OAHWND* drain) = 0;
    virtual HRESULT get_BorderColor(LONG* colour) = 0;
    virtual HRESULT put_BorderColor(LONG colour) = 0;
    virtual HRESULT get_FullScreenMode(LONG* mode) = 0;
    virtual HRESULT put_FullScreenMode(LONG mode) = 0;
    virtual HRESULT SetWindowForeground(LONG focus) = 0;
    virtual HRESULT NotifyOwnerMessage(OAHWND window, LONG message, LONG_PTR wParam, LONG_PTR lParam) = 0;
    virtual HRESULT SetWindowPosition(LONG left, LONG top, LONG width, LONG height) = 0;
    virtual HRESULT GetWindowPosition(LONG* left, LONG* top, LONG* width, LONG* height) = 0;
    virtual HRESULT GetMinIdealImageSize(LONG* width, LONG* height) = 0;
    virtual HRESULT GetMaxIdealImageSize(LONG* width, LONG* height) = 0;
    virtual HRESULT GetRestorePosition(LONG* left, LONG* top, LONG* width, LONG* height) = 0;
    virtual HRESULT HideCursor(LONG hide) = 0;
    virtual HRESULT IsCursorHidden(LONG* hidden) = 0;
};

namespace tarvelo::graph {

// One frame as the renderer hands it over: top-down rows of B,G,R (and a fourth byte for 32-bit
// video), padded to a multiple of 4 bytes, with where the video window lies in its owner.
struct VideoFrame {
    LONG width = 0;
    LONG height = 0;
    WORD bitCount = 24;
    DWORD stride = 0;
    std::vector<BYTE> pixels;
    REFERENCE_TIME start = 0;  // stream time of the sample, 0 when it carried none
    RECT window{0, 0, 0, 0};   // IVideoWindow position in the owner (left, top, right, bottom)
    LONG style = 0;            // IVideoWindow style
    HWND messageDrain = nullptr;
};

// Implemented by whoever shows a renderer's picture.
class FrameSink {
public:
    virtual ~FrameSink() = default;
    // On the renderer's presentation thread, never on a streaming thread: the newest frame since
    // the last call (frames that arrive faster than the sink takes them are dropped). It must
    // not wait for the owner's thread (post to it instead): that thread may be stopping the graph.
    virtual void presentFrame(HWND owner, const VideoFrame& frame) = 0;
    // The renderer stopped or went away; the owner should clear what it showed. Called on the
    // thread that stops or releases the graph.
    virtual void detached(HWND owner) {}
};

// One sink per owner window; a second registration for the same window replaces the first.
TARVELO_PLATFORM_API void registerFrameSink(HWND owner, FrameSink* sink);
// Returns only when no call into the sink is in progress, so the sink may be deleted afterwards.
TARVELO_PLATFORM_API void unregisterFrameSink(HWND owner);

// The display names of the running object table's entries, in registration order
// (an item moniker's display name is its delimiter followed by its item).
TARVELO_PLATFORM_API std::vector<std::string> runningObjectNames();

// The events the filters of a graph have sent it (IMediaEventSink::Notify), oldest first;
// the graph keeps the last 256. Null or a foreign object gives an empty list.
struct GraphEvent {
    LONG code;
    LONG_PTR param1;
    LONG_PTR param2;
};
TARVELO_PLATFORM_API std::vector<GraphEvent> graphEvents(IUnknown* graph);

}  // namespace tarvelo::graph
