#pragma once
// The picture being printed, readable pixel by pixel.

#include <string>

#include "common/color.h"
#include "common/result.h"

namespace plx {

class ImageArea {
  public:
    virtual ~ImageArea() = default;

    // Decode the file at `path`; on failure the previous picture is kept and the error names
    // the file and the reason (ErrorKind::Incomplete for a file cut short).
    virtual Result<void> load(const std::string& path) = 0;
    virtual void clear() = 0;
    // The picture's own size in pixels; 0 x 0 when empty.
    virtual float width() const = 0;
    virtual float height() const = 0;
    // kOutsidePicture outside the picture.
    virtual ColorValue pixel(int x, int y) const = 0;
    // The decoded rows, valid until the next load or clear.
    virtual PictureView picture() const = 0;
};

}  // namespace plx
