#pragma once
// The picture being printed, decoded with Qt's image readers.
//
// BMP files are checked against their own headers first (picture/bmp_check.h), so that a file
// still being written comes out as ErrorKind::Incomplete instead of a picture with black rows.
// The decoded picture is kept as one QImage that picture() and pixel() read in place, in the
// smallest of three forms: a palette (or grey) picture as Format_Indexed8, one byte a pixel,
// with its 256 colours beside it; an uncompressed 24-bit BMP as Format_RGB888, three bytes a
// pixel, read here rather than by Qt; any other in Format_RGBX8888, whose 32-bit words read
// on a little-endian machine are ColorValues once the top byte is masked.

#include <QImage>
#include <array>
#include <functional>
#include <string>

#include "printing/image_area.h"

namespace plx {

struct Decoded;  // a decoded picture in the station's own form

class QtImageArea : public ImageArea {
  public:
    QtImageArea();

    // Errors: NotFound (no such file), Io (there but cannot be opened or read: permission,
    // read error, out of descriptors, a directory or FIFO rather than a file), Incomplete
    // (shorter than its header declares), Invalid (the content is impossible, unsupported,
    // undecodable or above kMaxPicturePixels), Aborted (the decode wait said stop). On failure
    // the previous picture stays.
    Result<void> load(const std::string& path) override;
    // The same for a file already open (the descriptor stays the caller's); `name` names it
    // in errors.
    Result<void> loadDescriptor(int fd, const std::string& name);
    void clear() override;
    float width() const override { return float(m_image.width()); }
    float height() const override { return float(m_image.height()); }
    ColorValue pixel(int x, int y) const override;
    PictureView picture() const override;

    // For display: Format_RGBX8888, Format_RGB888, or Format_Indexed8 whose colour table
    // holds the colours its pixels read as; a null image when empty.
    const QImage& image() const { return m_image; }
    // Called after every successful load and every clear.
    void setChangedCallback(std::function<void()> callback) { m_changed = std::move(callback); }
    // Set: pictures are decoded on a thread of their own, and until the decoding ends load()
    // calls `wait` again and again on its own thread, which should run that thread's events
    // until at least one arrives (the end of the decoding posts one). When `wait` returns
    // false the decoding is abandoned and load() fails with ErrorKind::Aborted. Unset: load()
    // decodes on its caller's thread.
    void setDecodeWait(std::function<bool()> wait) { m_decodeWait = std::move(wait); }

  private:
    Result<void> adopt(Result<Decoded> decoded, const std::string& name);

    QImage m_image;
    std::array<ColorValue, 256> m_palette{};
    std::function<void()> m_changed;
    std::function<bool()> m_decodeWait;
};

}  // namespace plx
