#include "platform/graphics/canvas.h"

#include "platform/file_rights/files.h"

#include <fontconfig/fontconfig.h>

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cmath>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

namespace ondaline::platform {

namespace {

constexpr int dotsPerMeterAt72DPI = 2835;  // so a point is a pixel

// A still image is a photo or a poster, not a film.
constexpr std::size_t imageFileLimit = 64 * 1024 * 1024;

QColor toQColor(const Colour& c)
{
    auto clamp = [](double v) { return std::isfinite(v) ? std::clamp(v, 0.0, 1.0) : 0.0; };
    return QColor::fromRgbF(static_cast<float>(clamp(c.r)), static_cast<float>(clamp(c.g)),
                            static_cast<float>(clamp(c.b)), static_cast<float>(clamp(c.a)));
}

QString toQString(std::string_view utf8) { return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())); }

// Family and style for a PostScript name, through fontconfig.
std::pair<QString, QString> lookUp(const std::string& name)
{
    std::pair<QString, QString> found;
    auto read = [&](FcPattern* pattern) {
        FcChar8* family = nullptr;
        FcChar8* style = nullptr;
        if (FcPatternGetString(pattern, FC_FAMILY, 0, &family) == FcResultMatch) {
            found.first = QString::fromUtf8(reinterpret_cast<const char*>(family));
        }
        if (FcPatternGetString(pattern, FC_STYLE, 0, &style) == FcResultMatch) {
            found.second = QString::fromUtf8(reinterpret_cast<const char*>(style));
        }
    };

    FcPattern* exact = FcPatternCreate();
    FcPatternAddString(exact, FC_POSTSCRIPT_NAME, reinterpret_cast<const FcChar8*>(name.c_str()));
    FcObjectSet* objects = FcObjectSetBuild(FC_FAMILY, FC_STYLE, nullptr);
    FcFontSet* list = FcFontList(nullptr, exact, objects);
    if (list && list->nfont > 0) read(list->fonts[0]);
    if (list) FcFontSetDestroy(list);
    FcObjectSetDestroy(objects);
    FcPatternDestroy(exact);
    if (!found.first.isEmpty()) return found;

    // "Helvetica-Bold": family Helvetica, style Bold; fontconfig's aliases
    // and substitutes do the rest.
    const auto dash = name.find('-');
    const std::string family = name.substr(0, dash);
    const std::string style = dash == std::string::npos ? "Regular" : name.substr(dash + 1);
    FcPattern* wanted = FcPatternCreate();
    FcPatternAddString(wanted, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    FcPatternAddString(wanted, FC_STYLE, reinterpret_cast<const FcChar8*>(style.c_str()));
    FcConfigSubstitute(nullptr, wanted, FcMatchPattern);
    FcDefaultSubstitute(wanted);
    FcResult result;
    if (FcPattern* match = FcFontMatch(nullptr, wanted, &result)) {
        read(match);
        FcPatternDestroy(match);
    }
    FcPatternDestroy(wanted);
    return found;
}

// The same, remembered: a font is asked for at every frame, and fontconfig
// gives the same answer for as long as the program runs.
std::pair<QString, QString> resolve(std::string_view postScriptName)
{
    static std::mutex lock;  // fontconfig's default configuration is shared
    static std::map<std::string, std::pair<QString, QString>, std::less<>> known;
    std::lock_guard guard(lock);
    auto found = known.find(postScriptName);
    if (found == known.end())
        found = known.emplace(std::string(postScriptName), lookUp(std::string(postScriptName))).first;
    return found->second;
}

QImage& metricsDevice()
{
    static QImage device = [] {
        QImage image(1, 1, QImage::Format_ARGB32_Premultiplied);
        image.setDotsPerMeterX(dotsPerMeterAt72DPI);
        image.setDotsPerMeterY(dotsPerMeterAt72DPI);
        return image;
    }();
    return device;
}

}  // namespace

std::string toUpperUnicode(std::string_view utf8) { return toQString(utf8).toUpper().toStdString(); }

void ensureGuiRuntime()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (QGuiApplication::instance()) return;
        if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM")) {
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
        }
        static int argc = 1;
        static char name[] = "ondaline";
        static char* argv[] = {name, nullptr};
        new QGuiApplication(argc, argv);  // lives as long as the process
    });
}

// --- fonts ---

struct Font::Private {
    QFont font;
};

Font::Font(std::string_view postScriptName, double size)
    : private_(std::make_unique<Private>()), usable_(std::isfinite(size) && size > 0)
{
    if (!usable_) return;
    const auto [family, style] = resolve(postScriptName);
    if (!family.isEmpty()) private_->font.setFamily(family);
    if (!style.isEmpty()) private_->font.setStyleName(style);
    private_->font.setPointSizeF(size);
}

Font::~Font() = default;

double Font::ascent() const { return usable_ ? QFontMetricsF(private_->font, &metricsDevice()).ascent() : 0; }
double Font::descent() const { return usable_ ? QFontMetricsF(private_->font, &metricsDevice()).descent() : 0; }

double Font::width(std::string_view utf8) const
{
    return usable_ ? QFontMetricsF(private_->font, &metricsDevice()).horizontalAdvance(toQString(utf8)) : 0;
}

// --- pictures ---

struct Picture::Private {
    QImage image;
};

Picture::Picture(std::unique_ptr<Private> p) : private_(std::move(p)) {}
Picture::~Picture() = default;

std::shared_ptr<const Picture> Picture::load(const std::string& path, int width, int height, std::string* problem,
                                             const NamedFileRules& rules)
{
    const FileRead file = readNamedFile(path, rules, imageFileLimit);
    if (!file.contents) {
        if (problem && file.problem != FileProblem::missing) *problem = file.reason(imageFileLimit);
        return nullptr;
    }
    QImage image;
    if (!image.loadFromData(reinterpret_cast<const uchar*>(file.contents->data()),
                            static_cast<int>(file.contents->size()))) {
        if (problem) *problem = "not an image that can be read";
        return nullptr;
    }
    auto p = std::make_unique<Private>();
    p->image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied)
                   .scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return std::shared_ptr<const Picture>(new Picture(std::move(p)));
}

// --- canvas ---

struct Canvas::Private {
    QImage image;
    QPainter painter;
};

Canvas::Canvas(int width, int height) : Canvas(nullptr, width, height) {}

Canvas::Canvas(std::uint8_t* pixels, int width, int height)
    : private_(std::make_unique<Private>()), width_(width), height_(height)
{
    // ARGB32 premultiplied is B, G, R, A in memory on a little-endian machine.
    if (pixels) {
        private_->image = QImage(pixels, width, height, width * 4, QImage::Format_ARGB32_Premultiplied);
    } else {
        private_->image = QImage(width, height, QImage::Format_ARGB32_Premultiplied);
        private_->image.fill(Qt::transparent);
    }
    private_->image.setDotsPerMeterX(dotsPerMeterAt72DPI);
    private_->image.setDotsPerMeterY(dotsPerMeterAt72DPI);
    private_->painter.begin(&private_->image);
    private_->painter.setRenderHint(QPainter::Antialiasing, true);
    private_->painter.setRenderHint(QPainter::TextAntialiasing, true);
    private_->painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
}

Canvas::~Canvas()
{
    if (private_->painter.isActive()) private_->painter.end();
}

void Canvas::fill(double x, double y, double w, double h, const Colour& colour)
{
    // The bottom-left origin becomes Qt's top-left one.
    private_->painter.fillRect(QRectF(x, height_ - y - h, w, h), toQColor(colour));
}

void Canvas::draw(const Picture& picture) { private_->painter.drawImage(QPointF(0, 0), picture.impl().image); }

void Canvas::text(std::string_view utf8, const Font& font, const Colour& colour, double x, double baseline)
{
    if (!font.usable() || utf8.empty()) return;
    private_->painter.setFont(font.impl().font);
    private_->painter.setPen(toQColor(colour));
    private_->painter.drawText(QPointF(x, height_ - baseline), toQString(utf8));
}

void Canvas::clip(double x, double y, double w, double h)
{
    private_->painter.setClipRect(QRectF(x, height_ - y - h, w, h), Qt::IntersectClip);
}

void Canvas::save() { private_->painter.save(); }
void Canvas::restore() { private_->painter.restore(); }

void Canvas::end()
{
    if (private_->painter.isActive()) private_->painter.end();
}

std::vector<std::uint8_t> Canvas::finish()
{
    private_->painter.end();
    const QImage& image = private_->image;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width_) * height_ * 4);
    for (int row = 0; row < height_; ++row) {
        std::copy_n(image.constScanLine(row), width_ * 4,
                    pixels.begin() + static_cast<std::ptrdiff_t>(row) * width_ * 4);
    }
    return pixels;
}

}  // namespace ondaline::platform
