// Draws the program's icons and pictures as PNG files: make_resources <icon folder> <picture folder>.
// Everything is drawn from simple shapes with soft edges, so the files can be made anew at any
// build and need no artwork.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>

#include <wx/image.h>
#include <wx/init.h>

namespace {

struct Rgba {
    double r, g, b, a;
};

// A picture under construction: colours blended in as coverage values between 0 and 1.
class Canvas {
public:
    Canvas(int w, int h) : image(w, h) {
        image.InitAlpha();
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                image.SetRGB(x, y, 0, 0, 0);
                image.SetAlpha(x, y, 0);
            }
    }
    int width() const { return image.GetWidth(); }
    int height() const { return image.GetHeight(); }

    // Paints every pixel where `distance` (negative inside) says the shape lies, with a one-pixel
    // soft edge.
    void fill(const Rgba& c, const std::function<double(double, double)>& distance) {
        for (int y = 0; y < height(); ++y)
            for (int x = 0; x < width(); ++x) {
                const double d = distance(x + 0.5, y + 0.5);
                const double cover = std::clamp(0.5 - d, 0.0, 1.0);
                if (cover > 0) blend(x, y, c, cover);
            }
    }
    void disc(double cx, double cy, double r, const Rgba& c) {
        fill(c, [=](double x, double y) { return std::hypot(x - cx, y - cy) - r; });
    }
    void ring(double cx, double cy, double r, double thickness, const Rgba& c) {
        fill(c, [=](double x, double y) { return std::fabs(std::hypot(x - cx, y - cy) - r) - thickness / 2; });
    }
    void box(double x0, double y0, double x1, double y1, double radius, const Rgba& c) {
        fill(c, [=](double x, double y) {
            const double qx = std::fabs(x - (x0 + x1) / 2) - ((x1 - x0) / 2 - radius);
            const double qy = std::fabs(y - (y0 + y1) / 2) - ((y1 - y0) / 2 - radius);
            return std::hypot(std::max(qx, 0.0), std::max(qy, 0.0)) + std::min(std::max(qx, qy), 0.0) - radius;
        });
    }
    void line(double ax, double ay, double bx, double by, double thickness, const Rgba& c) {
        fill(c, [=](double x, double y) {
            const double vx = bx - ax, vy = by - ay;
            const double t = std::clamp(((x - ax) * vx + (y - ay) * vy) / (vx * vx + vy * vy), 0.0, 1.0);
            return std::hypot(x - ax - t * vx, y - ay - t * vy) - thickness / 2;
        });
    }
    // Makes everything gray, keeping the lightness.
    void desaturate() {
        for (int y = 0; y < height(); ++y)
            for (int x = 0; x < width(); ++x) {
                const int v = (image.GetRed(x, y) * 11 + image.GetGreen(x, y) * 16 + image.GetBlue(x, y) * 5) >> 5;
                const int g = 96 + v / 2;
                image.SetRGB(x, y, g, g, g);
            }
    }
    bool save(const std::string& path) { return image.SaveFile(path, wxBITMAP_TYPE_PNG); }

    wxImage image;

private:
    void blend(int x, int y, const Rgba& c, double cover) {
        const double a = c.a * cover;
        const double da = image.GetAlpha(x, y) / 255.0;
        const double oa = a + da * (1 - a);
        auto mix = [&](double src, unsigned char dst) {
            return oa > 0 ? static_cast<unsigned char>(std::lround((src * a + dst * da * (1 - a)) / oa)) : 0;
        };
        image.SetRGB(x, y, mix(c.r, image.GetRed(x, y)), mix(c.g, image.GetGreen(x, y)), mix(c.b, image.GetBlue(x, y)));
        image.SetAlpha(x, y, static_cast<unsigned char>(std::lround(oa * 255)));
    }
};

const Rgba kInk{34, 44, 64, 1}, kWhite{255, 255, 255, 1}, kSkin{240, 200, 160, 1}, kTeal{24, 150, 150, 1};

// A round face seen from the front: the product's sign.
void face(Canvas& c, double cx, double cy, double r, const Rgba& skin) {
    c.disc(cx, cy, r, kInk);
    c.disc(cx, cy, r * 0.86, skin);
    c.disc(cx - r * 0.32, cy - r * 0.18, r * 0.11, kInk);
    c.disc(cx + r * 0.32, cy - r * 0.18, r * 0.11, kInk);
    c.fill(kInk, [=](double x, double y) {  // the mouth: the lower half of a thin ring
        const double d = std::fabs(std::hypot(x - cx, y - (cy + r * 0.05)) - r * 0.42) - r * 0.06;
        return y < cy + r * 0.2 ? std::max(d, cy + r * 0.2 - y) : d;
    });
}

// A padlock in the lower right corner.
void padlock(Canvas& c, double x, double y, double s, const Rgba& body) {
    c.ring(x + s / 2, y + s * 0.35, s * 0.27, s * 0.12, kInk);
    c.box(x, y + s * 0.38, x + s, y + s, s * 0.12, kInk);
    c.box(x + s * 0.08, y + s * 0.46, x + s * 0.92, y + s * 0.92, s * 0.08, body);
    c.disc(x + s / 2, y + s * 0.66, s * 0.09, kInk);
}

Canvas applicationIcon(int n) {
    Canvas c(n, n);
    face(c, n * 0.42, n * 0.42, n * 0.38, kSkin);
    padlock(c, n * 0.56, n * 0.5, n * 0.42, Rgba{250, 200, 60, 1});
    return c;
}

Canvas trayIcon(int n, const Rgba& lockColour, bool crossed) {
    Canvas c(n, n);
    face(c, n * 0.42, n * 0.42, n * 0.38, kSkin);
    padlock(c, n * 0.56, n * 0.5, n * 0.42, lockColour);
    if (crossed) c.line(n * 0.1, n * 0.9, n * 0.9, n * 0.1, n * 0.1, Rgba{200, 30, 30, 1});
    return c;
}

Canvas enrollmentIcon(int n) {
    Canvas c(n, n);
    c.box(n * 0.06, n * 0.14, n * 0.94, n * 0.86, n * 0.1, kInk);  // a camera's frame around the face
    c.box(n * 0.11, n * 0.19, n * 0.89, n * 0.81, n * 0.07, Rgba{210, 230, 245, 1});
    face(c, n * 0.5, n * 0.5, n * 0.26, kSkin);
    c.disc(n * 0.8, n * 0.78, n * 0.16, Rgba{40, 160, 60, 1});  // plus sign: add a face
    c.line(n * 0.8, n * 0.69, n * 0.8, n * 0.87, n * 0.06, kWhite);
    c.line(n * 0.71, n * 0.78, n * 0.89, n * 0.78, n * 0.06, kWhite);
    return c;
}

Canvas parametersIcon(int n) {
    Canvas c(n, n);
    const double cx = n / 2.0, cy = n / 2.0;
    for (int i = 0; i < 8; ++i) {  // the teeth of a gear wheel
        const double a = i * M_PI / 4;
        c.line(cx + std::cos(a) * n * 0.2, cy + std::sin(a) * n * 0.2, cx + std::cos(a) * n * 0.42,
               cy + std::sin(a) * n * 0.42, n * 0.13, kInk);
    }
    c.disc(cx, cy, n * 0.31, kInk);
    c.disc(cx, cy, n * 0.25, Rgba{150, 165, 185, 1});
    c.disc(cx, cy, n * 0.1, kInk);
    return c;
}

Canvas helpIcon(int n) {
    Canvas c(n, n);
    const double cx = n / 2.0, cy = n / 2.0;
    c.disc(cx, cy, n * 0.44, kInk);
    c.disc(cx, cy, n * 0.38, Rgba{60, 120, 210, 1});
    c.disc(cx, n * 0.28, n * 0.07, kWhite);  // an "i": information
    c.box(cx - n * 0.055, n * 0.41, cx + n * 0.055, n * 0.76, n * 0.03, kWhite);
    return c;
}

Canvas logo(int n) {
    Canvas c(n, n);
    c.disc(n / 2.0, n / 2.0, n * 0.48, kTeal);
    c.ring(n / 2.0, n / 2.0, n * 0.43, n * 0.03, kWhite);
    face(c, n * 0.45, n * 0.45, n * 0.3, kSkin);
    padlock(c, n * 0.55, n * 0.52, n * 0.3, Rgba{250, 200, 60, 1});
    return c;
}

// The unlock screen's backdrop: a quiet vertical gradient with a rounded frame where the video goes.
Canvas background(int w, int h) {
    Canvas c(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double t = static_cast<double>(y) / (h - 1);
            c.image.SetRGB(x, y, static_cast<unsigned char>(228 - 40 * t), static_cast<unsigned char>(238 - 30 * t),
                           static_cast<unsigned char>(246 - 10 * t));
            c.image.SetAlpha(x, y, 255);
        }
    c.box(2, 2, w - 2, 40, 8, Rgba{24, 150, 150, 0.9});
    face(c, 26, 21, 14, kSkin);
    c.box(66, 160, w - 66, h - 60, 10, Rgba{255, 255, 255, 0.6});
    return c;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_resources <icon folder> <picture folder>\n");
        return 2;
    }
    wxInitializer init;
    wxImage::AddHandler(new wxPNGHandler);
    const std::string icons = argv[1], pictures = argv[2];
    bool ok = true;
    ok &= applicationIcon(48).save(icons + "/application.png");
    ok &= enrollmentIcon(48).save(icons + "/enrollment.png");
    Canvas gray = enrollmentIcon(48);
    gray.desaturate();
    ok &= gray.save(icons + "/enrollment_gray.png");
    ok &= parametersIcon(48).save(icons + "/parameters.png");
    ok &= helpIcon(48).save(icons + "/help.png");
    ok &= trayIcon(32, Rgba{60, 190, 80, 1}, false).save(icons + "/systray.png");
    ok &= trayIcon(32, Rgba{250, 160, 30, 1}, false).save(icons + "/systrayBusy.png");
    Canvas disabled = trayIcon(32, Rgba{160, 160, 160, 1}, true);
    ok &= disabled.save(icons + "/systrayDisabled.png");
    ok &= logo(96).save(pictures + "/Tarvelo_Logo.png");
    ok &= background(514, 470).save(pictures + "/Tarvelo_Background.png");
    if (!ok) std::fprintf(stderr, "make_resources: a file could not be written\n");
    return ok ? 0 : 1;
}
