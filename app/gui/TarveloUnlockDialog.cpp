#include "app/gui/TarveloUnlockDialog.h"

#include <wx/dcclient.h>
#include <wx/display.h>
#include <wx/filename.h>
#include <wx/image.h>
#include <wx/log.h>
#include <wx/msgdlg.h>

#include "app/capture/FaceVerificatorGraphManager.h"
#include "app/capture/Notifications.h"
#include "app/core/ProductConstants.h"
#include "app/core/SessionGuardCore.h"
#include "app/gui/CustomControls.h"
#include "app/gui/WindowBridge.h"
#include "platform/kernel.h"
#include "src/Logger.h"

wxIMPLEMENT_ABSTRACT_CLASS(TarveloUnlockDialog, UnlockDialog);

wxBEGIN_EVENT_TABLE(TarveloUnlockDialog, UnlockDialog)
    EVT_KEY_DOWN(TarveloUnlockDialog::onKeyDown)
    EVT_SIZE(TarveloUnlockDialog::onSize)
wxEND_EVENT_TABLE()

// GTK and GDK, which the toolkit runs on: the unlock screen's X window, made override-redirect
// before it is mapped, takes the keyboard and the pointer for itself on the toolkit's connection.
extern "C" void gtk_widget_realize(void* widget);
extern "C" void* gtk_widget_get_window(void* widget);
extern "C" void* gdk_window_get_display(void* window);
extern "C" void* gdk_x11_display_get_xdisplay(void* display);
extern "C" unsigned long gdk_x11_window_get_xid(void* window);
// The grab goes through GDK's seat: the toolkit reads input as XInput2 events, which a core grab
// of the same client would keep from it (the screen would hold the keyboard and hear no key).
extern "C" void* gdk_display_get_default_seat(void* display);
extern "C" int gdk_seat_grab(void* seat, void* window, int capabilities, int ownerEvents, void* cursor, void* event,
                             void* prepare, void* prepareData);
extern "C" void gdk_seat_ungrab(void* seat);

namespace {
constexpr int kPanelWidth = 514, kPanelHeight = 470;
constexpr int kMessageMargin = 20;  // on either side of the message in the panel

// The text with its lines broken at blanks (inside a word too long for a line of its own) so that
// no line is wider than width in the window's font.
wxString wrapToWidth(wxWindow* window, const wxString& text, int width) {
    wxClientDC dc(window);
    dc.SetFont(window->GetFont());
    auto fits = [&](const wxString& line) {
        wxCoord w = 0, h = 0;
        dc.GetTextExtent(line, &w, &h);
        return w <= width;
    };
    wxString out;
    const wxArrayString paragraphs = wxSplit(text, '\n', '\0');
    for (size_t p = 0; p < paragraphs.size(); ++p) {
        if (p) out += '\n';
        wxString line;
        for (wxString word : wxSplit(paragraphs[p], ' ', '\0')) {
            const wxString joined = line.empty() ? word : line + ' ' + word;
            if (fits(joined)) {
                line = joined;
                continue;
            }
            if (!line.empty()) out += line + '\n';
            line.clear();
            while (!fits(word)) {
                size_t n = 1;
                while (n < word.length() && fits(word.Left(n + 1))) ++n;
                out += word.Left(n) + '\n';
                word = word.Mid(n);
            }
            line = word;
        }
        out += line;
    }
    return out;
}
}  // namespace

TarveloUnlockDialog::TarveloUnlockDialog(UnlockHost& host, wxWindow* parent) : UnlockDialog(host, parent) {
    SessionGuardCore& core = host.core();
    const Configuration& config = core.config;
    const int W = static_cast<int>(config.getFormatWidth()), H = static_cast<int>(config.getFormatHeight());
    SetBackgroundColour(*wxWHITE);

    if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);
    wxBitmap* background = nullptr;
    {
        wxLogNull quiet;
        wxImage image;
        if (wxFileName::FileExists("Tarvelo_Background.png") && image.LoadFile("Tarvelo_Background.png"))
            background = new wxBitmap(image);
    }
    backgroundPanel = new ImagePanel(this, wxID_ANY, wxDefaultPosition, wxSize(kPanelWidth, kPanelHeight),
                                     wxTAB_TRAVERSAL, "panel");
    if (background) backgroundPanel->setBitmap(background);
    backgroundPanel->SetOwnFont(wxFont(8, wxFONTFAMILY_DECORATIVE, wxFONTSTYLE_NORMAL, wxFONTWEIGHT_NORMAL, false,
                                       "Comic Sans MS"));
    centrePanelOnScreen();

    videoWindow = new VideoWindow(backgroundPanel, wxPoint(80, 170), wxSize(W, H));
    videoWindow->SetBackgroundColour(wxColour(40, 40, 40));
    idleWindow = new wxControl(backgroundPanel, wxID_ANY, wxPoint(80, 170), wxSize(W, H), wxBORDER_NONE,
                               wxDefaultValidator, "control");
    idleWindow->SetBackgroundColour(wxColour(40, 40, 40));
    idleWindow->Hide();

    detectionGauge = new CustomGauge(backgroundPanel, wxID_ANY, gaugeThousandths(config.maxDetectionConfidence), 0, -1,
                                     wxPoint(W + 94, 170), wxSize(10, H), 1, true, wxDefaultValidator, "gauge");
    detectionGauge->SetForegroundColour(*wxRED);
    detectionGauge->setBorderColour(wxColour(183, 183, 183));
    detectionGauge->SetBackgroundColour(*wxWHITE);
    detectionGauge->SetToolTip("Detection level (Green = Very good, Yellow = Good, Red = Bad)");

    verificationGauge = new CustomGauge(backgroundPanel, wxID_ANY, gaugeThousandths(config.maxVerificationConfidence),
                                        -500, gaugeThousandths(config.badVerificationConfidence), wxPoint(W + 103, 170), wxSize(10, H), 1,
                                        true, wxDefaultValidator, "gauge");
    verificationGauge->SetForegroundColour(*wxRED);
    verificationGauge->setBorderColour(wxColour(183, 183, 183));
    verificationGauge->SetBackgroundColour(*wxWHITE);
    verificationGauge->setMarkerColour(wxColour(183, 183, 183));
    verificationGauge->SetToolTip("Verification level (Green, Yellow = Authentified, Red = Not authentified)");

    std::string domain, user;
    core.currentWindowsUser(domain, user);
    const wxSize label =
        backgroundPanel->setLabel(0, wxString::Format("Locked by %s, password: ", wxString::FromUTF8(user)),
                                  wxPoint(80, H + 180));
    const int width = W + 33 - label.x;
    passwordField = new wxTextCtrl(backgroundPanel, wxID_ANY, "", wxDefaultPosition,
                                   width < 50 ? wxDefaultSize : wxSize(width, -1),
                                   wxBORDER_SIMPLE | wxTE_PASSWORD | wxTE_PROCESS_ENTER, wxDefaultValidator, "text");
    passwordField->SetForegroundColour(*wxBLACK);
    passwordField->SetBackgroundColour(*wxWHITE);
    // Every key typed into the field reaches the dialog's key handler first.
    passwordField->Bind(wxEVT_KEY_DOWN, &TarveloUnlockDialog::onKeyDown, this);
    const int fh = passwordField->GetSize().y;
    passwordField->Move(80 + label.x, (H + 180) - (fh - label.y) / 2);

    helpText = new wxStaticText(this, wxID_ANY,
                                wxString::Format("%s, if you cannot unlock the system, enter your password and %s will "
                                                 "update your face model!",
                                                 wxString::FromUTF8(user), kProductConstants[PC_PRODUCT]),
                                wxDefaultPosition, wxDefaultSize, 0, "staticText");
    helpText->SetForegroundColour(*wxRED);
    helpText->SetFont(backgroundPanel->GetFont());
    helpText->SetSize(helpText->GetTextExtent(helpText->GetLabel()));  // measured with the panel's font
    placeHelpText();
    passwordField->SetFocus();
    // Override-redirect from the first map: no window manager frames, moves or stacks it.
    if (GetHandle()) {
        gtk_widget_realize(GetHandle());
        if (void* window = gtk_widget_get_window(GetHandle())) {
            xDisplay = gdk_x11_display_get_xdisplay(gdk_window_get_display(window));
            xWindow = gdk_x11_window_get_xid(window);
            tarvelo_platform::setLockScreenWindow(xDisplay, xWindow);
        }
    }
    grabTimer.SetOwner(this, kGrabTimerId);
    Bind(wxEVT_TIMER, [this](wxTimerEvent&) { grabInput(); }, kGrabTimerId);
    Bind(wxEVT_SHOW, [this](wxShowEvent& event) {
        if (event.IsShown()) CallAfter([this] { grabInput(); });
        event.Skip();
    });
}

TarveloUnlockDialog::~TarveloUnlockDialog() {
    grabTimer.Stop();
    if (keyboardGrabbed || pointerGrabbed) {
        void* window = GetHandle() ? gtk_widget_get_window(GetHandle()) : nullptr;
        if (window) gdk_seat_ungrab(gdk_display_get_default_seat(gdk_window_get_display(window)));
    }
}

void TarveloUnlockDialog::grabInput() {
    if (!xDisplay || !IsShown()) return;
    // Another client (the lock desktop's cover until this window shows, or anyone) may hold a grab:
    // tried again every 100 ms until both are held, then kept every second.
    void* window = GetHandle() ? gtk_widget_get_window(GetHandle()) : nullptr;
    void* seat = window ? gdk_display_get_default_seat(gdk_window_get_display(window)) : nullptr;
    // GDK_SEAT_CAPABILITY_ALL (pointer, touch, stylus, keyboard); 0 is GDK_GRAB_SUCCESS.
    const bool held = seat && gdk_seat_grab(seat, window, 15, 1, nullptr, nullptr, nullptr, nullptr) == 0;
    keyboardGrabbed = pointerGrabbed = held;
    grabTimer.StartOnce(keyboardGrabbed && pointerGrabbed ? 1000 : 100);
}

void TarveloUnlockDialog::centrePanelOnScreen() {
    // The middle of the screen, whatever part of it the dialog covers.
    const wxRect screen = wxDisplay(static_cast<unsigned>(std::max(wxDisplay::GetFromWindow(this), 0))).GetGeometry();
    const wxPoint topLeft(screen.x + (screen.width - kPanelWidth) / 2, screen.y + (screen.height - kPanelHeight) / 2);
    backgroundPanel->Move(ScreenToClient(topLeft));
}

void TarveloUnlockDialog::placeHelpText() {
    // Centred under the panel, which stands in the middle of the screen.
    const int middle = backgroundPanel->GetPosition().x + kPanelWidth / 2;
    helpText->Move(middle - helpText->GetSize().x / 2, backgroundPanel->GetPosition().y + kPanelHeight + 40);
}

void TarveloUnlockDialog::layout(int W, int H) {
    videoWindow->SetSize(80, 170, W, H);
    idleWindow->SetSize(80, 170, W, H);
    detectionGauge->SetSize(W + 94, 170, 10, H);
    verificationGauge->SetSize(W + 103, 170, 10, H);
    backgroundPanel->setLabelPosition(0, wxPoint(80, H + 180));
    const wxSize label = backgroundPanel->getLabelSize(0);
    const int fh = passwordField->GetSize().y;
    passwordField->SetSize(80 + label.x, (H + 180) - (fh - label.y) / 2, std::max(W + 33 - label.x, 50), fh);
    placeHelpText();
    backgroundPanel->Refresh();
}

void TarveloUnlockDialog::onVerificationStarted() {
    const Configuration& config = host.core().config;
    int32_t w = 0, h = 0;
    FaceVerificatorGraphManager* graphManager = getGraphManager();
    if (!graphManager || !graphManager->getVideoSize(w, h) || w <= 0 || h <= 0) {
        w = static_cast<int32_t>(config.getFormatWidth());
        h = static_cast<int32_t>(config.getFormatHeight());
    }
    layout(w, h);
}

void TarveloUnlockDialog::showMessage(const wxString& text) {
    videoWindow->Hide();
    idleWindow->Hide();
    detectionGauge->Hide();
    verificationGauge->Hide();
    // A message wider than the panel would be cut at both edges: it is broken into lines that fit.
    const wxSize size =
        backgroundPanel->setLabel(1, wrapToWidth(backgroundPanel, text, kPanelWidth - 2 * kMessageMargin), wxDefaultPosition);
    backgroundPanel->setLabelPosition(
        1, wxPoint((kPanelWidth - size.x) / 2, 170 + (videoWindow->GetSize().y - size.y) / 2));
    backgroundPanel->Refresh();
    passwordField->SetFocus();
}

void TarveloUnlockDialog::clearPassword() { passwordField->SetValue(""); }

void TarveloUnlockDialog::setMode(int newMode) {
    if (newMode == MODE_SCREENSAVER) {
        idleWindow->Show();
        videoWindow->Hide();
        detectionGauge->setValue(detectionGauge->getMinimum());
        verificationGauge->setValue(verificationGauge->getMinimum());
        detectionGauge->SetForegroundColour(*wxRED);
        verificationGauge->SetForegroundColour(*wxRED);
        detectionGauge->Refresh();
        verificationGauge->Refresh();
    } else if (newMode == MODE_DETECTION) {
        videoWindow->Show();
        idleWindow->Hide();
    }
}

void TarveloUnlockDialog::showDetectionConfidence(int value) {
    const Configuration& config = host.core().config;
    detectionGauge->colourByScore(value, gaugeThousandths(config.badDetectionConfidence),
                                  gaugeThousandths(config.goodDetectionConfidence));
    detectionGauge->setValue(value);
    detectionGauge->Refresh();
}

void TarveloUnlockDialog::showVerificationResult(int value) {
    const Configuration& config = host.core().config;
    verificationGauge->colourByScore(value, gaugeThousandths(config.badVerificationConfidence),
                                     gaugeThousandths(config.goodVerificationConfidence));
    verificationGauge->setValue(value);
    verificationGauge->Refresh();
}

void TarveloUnlockDialog::refreshGauges() {
    detectionGauge->Refresh();
    detectionGauge->Update();
    verificationGauge->Refresh();
    verificationGauge->Update();
}

HWND TarveloUnlockDialog::videoWindowHandle() { return windowHandle(videoWindow); }

wxString TarveloUnlockDialog::password() { return passwordField->GetValue(); }

void TarveloUnlockDialog::onSize(wxSizeEvent& event) {
    if (backgroundPanel) {
        centrePanelOnScreen();
        if (helpText) placeHelpText();
    }
    event.Skip();
}

void TarveloUnlockDialog::showInvalidPassword(const std::string& text, const std::string& caption) {
    wxMessageBox(wxString::FromUTF8(text), wxString::FromUTF8(caption), wxOK | wxICON_ERROR, this);
}

void TarveloUnlockDialog::onKeyDown(wxKeyEvent& event) {
    // Without the keyboard grab a key may come from anywhere (another client's synthetic event):
    // the field takes none.
    if (!keyboardGrabbed) return;
    const int key = event.GetKeyCode();
    const bool enter = key == WXK_RETURN || key == WXK_NUMPAD_ENTER;
    if (!enter) event.Skip();
    attempt.onKey(enter, enter ? password().ToStdString(wxConvUTF8) : std::string());
}
