#pragma once
// The notification numbers that reach the GUI thread, always posted and never waited for: window
// messages that the listeners post with PostMessageA, and command events (menu-selected) that the
// presence checker, the unlock thread and the enrollment thread hand to the application object.
// A window message carries a score in thousandths (truncated toward zero) or NO_FACE_SCORE in
// wParam, and 0 in lParam.
#include <cmath>
#include <cstdint>

#include "platform/messages.h"

constexpr unsigned WM_FACE_DETECTION = WM_APP + 0x100;
constexpr unsigned WM_FACE_AUTHENTICATED = WM_APP + 0x101;
constexpr unsigned WM_FACE_NOT_AUTHENTICATED = WM_APP + 0x102;
constexpr unsigned WM_FACE_CAPTURED = WM_APP + 0x103;       // enrollment page
constexpr unsigned WM_VERIFICATION_READY = WM_APP + 0x103;  // unlock dialog
constexpr uint32_t NO_FACE_SCORE = 0x80000000u;
// wParam of WM_FACE_CAPTURED: the capture files were written, or could not be.
constexpr WPARAM CAPTURE_WRITTEN = 0;
constexpr WPARAM CAPTURE_FAILED = 1;

constexpr int ID_MODEL_THREAD_DONE = 0x8100;
constexpr int ID_PRESENCE_OK = 0x8101;
constexpr int ID_PRESENCE_FAILED = 0x8102;
constexpr int ID_SESSION_UNLOCKED = 0x8103;

// A score as the messages carry it: thousandths as a 32-bit integer, truncated toward zero.
// Scores beyond the 32-bit range are held at its ends rather than wrapping; the lowest end is one
// above NO_FACE_SCORE, so that a very bad face never reads as no face.
inline WPARAM scoreParam(float score) {
    const float thousandths = score * 1000.0f;
    int32_t value;
    if (!(thousandths == thousandths)) value = 0;
    else if (thousandths >= 2147483647.0f) value = INT32_MAX;
    else if (thousandths <= -2147483648.0f) value = INT32_MIN + 1;
    else value = static_cast<int32_t>(thousandths);
    return static_cast<WPARAM>(static_cast<uint32_t>(value));
}

// A configured score (whole thousandths, as the configuration reads them) on the scale of the
// messages' scores, for the gauges that show both.
inline int32_t gaugeThousandths(float score) {
    const double thousandths = std::round(double(score) * 1000.0);
    if (!(thousandths == thousandths)) return 0;
    if (thousandths >= 2147483647.0) return INT32_MAX;
    if (thousandths <= -2147483647.0) return INT32_MIN + 1;
    return static_cast<int32_t>(thousandths);
}
