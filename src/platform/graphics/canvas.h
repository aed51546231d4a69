#pragma once

// Drawing 1280 × 720 style frames: a BGRA picture with the origin at the
// bottom left, y upward, one unit per pixel. Built on QtGui (QImage and
// QPainter); nothing of Qt shows outside this layer.

#include "platform/file_rights/named_file.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ondaline::platform {

struct Colour {
    double r = 0, g = 0, b = 0, a = 1;  // 0 to 1; drawn clamped to that range
};

// A font by PostScript name: fontconfig's postscript names first, then the
// name read as family-style ("Helvetica-Bold"); a name with no match gets
// fontconfig's substitute.
class Font {
public:
    Font(std::string_view postScriptName, double size);
    ~Font();
    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;

    bool usable() const { return usable_; }  // a finite, positive size
    double ascent() const;
    double descent() const;
    double width(std::string_view utf8) const;  // typographic advance of one line

    struct Private;
    const Private& impl() const { return *private_; }

private:
    std::unique_ptr<Private> private_;
    bool usable_;
};

// A still image read from a file, kept already scaled to the frame.
class Picture {
public:
    // The image file at `path` stretched to width × height. Read through the
    // guarded reader, so a FIFO or a device named as the image is refused
    // instead of stalling; none when it cannot be read or does not decode,
    // with why in `problem` (when given) unless there is no such file.
    static std::shared_ptr<const Picture> load(const std::string& path, int width, int height,
                                               std::string* problem = nullptr, const NamedFileRules& rules = {});
    ~Picture();
    struct Private;
    const Private& impl() const { return *private_; }

private:
    explicit Picture(std::unique_ptr<Private> p);
    std::unique_ptr<Private> private_;
};

class Canvas {
public:
    Canvas(int width, int height);
    // Draws into `pixels` (rows top first, B G R A each, width × height),
    // which it neither clears nor owns; end() ends the drawing.
    Canvas(std::uint8_t* pixels, int width, int height);
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    int width() const { return width_; }
    int height() const { return height_; }

    void fill(double x, double y, double w, double h, const Colour& colour);  // blended by alpha
    void draw(const Picture& picture);                                        // the whole frame
    void text(std::string_view utf8, const Font& font, const Colour& colour, double x, double baseline);
    void clip(double x, double y, double w, double h);
    void save();
    void restore();

    // Ends the drawing and gives the pixels: rows top first, B G R A each.
    std::vector<std::uint8_t> finish();
    void end();

    struct Private;

private:
    std::unique_ptr<Private> private_;
    int width_, height_;
};

// The default Unicode upper-case mapping, whatever the locale.
std::string toUpperUnicode(std::string_view utf8);

// Text needs Qt's font machinery, which needs a GUI application object.
// Programs call this once at start (the application has its own); without a
// display it starts Qt on its "offscreen" platform.
void ensureGuiRuntime();

}  // namespace ondaline::platform
