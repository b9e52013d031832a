#pragma once
// The picture being printed, decoded with Qt's image readers.
//
// BMP files are checked against their own headers first (platform/bmp_check.h), so that a file
// still being written comes out as ErrorKind::Incomplete instead of a picture with black rows.
// The decoded picture is kept as one QImage in Format_RGBX8888, whose 32-bit words read on a
// little-endian machine are ColorValues once the top byte is masked: picture() and pixel() read
// it in place.

#include <QImage>
#include <functional>
#include <string>

#include "printing/image_area.h"

namespace plx {

class QtImageArea : public ImageArea {
  public:
    // Errors: NotFound (no such file), Io (there but cannot be opened or read: permission,
    // read error, out of descriptors, a directory or FIFO rather than a file), Incomplete
    // (shorter than its header declares), Invalid (the content is impossible, unsupported,
    // undecodable or above kMaxPicturePixels). On failure the previous picture stays.
    Result<void> load(const std::string& path) override;
    // The same for a file already open (the descriptor stays the caller's); `name` names it
    // in errors.
    Result<void> loadDescriptor(int fd, const std::string& name);
    void clear() override;
    float width() const override { return float(m_image.width()); }
    float height() const override { return float(m_image.height()); }
    ColorValue pixel(int x, int y) const override;
    PictureView picture() const override;

    // For display; Format_RGBX8888, or a null image when empty.
    const QImage& image() const { return m_image; }
    // Called after every successful load and every clear.
    void setChangedCallback(std::function<void()> callback) { m_changed = std::move(callback); }

  private:
    Result<void> take(Result<QImage> image, const std::string& name);

    QImage m_image;
    std::function<void()> m_changed;
};

}  // namespace plx
