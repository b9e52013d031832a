#pragma once
// One label page as the printer's own raster: every device dot written by the station, so no
// rasteriser on the print server can move, smooth or recolour it. Rows are compressed the way
// PWG and CUPS raster (version 2) compress them; the page headers come from libcups.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/color.h"

namespace plx {

class LabelRaster {
  public:
    // A white page of width x height device dots (8-bit RGB on output).
    LabelRaster(int width, int height);

    int width() const { return m_width; }
    int height() const { return m_height; }
    bool empty() const { return m_touched == 0; }

    // The dot at floor(x), floor(y); off the page (or not numbers) it is dropped.
    void plot(double x, double y, ColorValue color);
    // colours[i] at (x0 + i, y) where it is a colour (top byte 0); kNoDot-style values (top
    // byte set) leave the page as it is. Parts off the page are dropped.
    void plotRow(std::int64_t x0, std::int64_t y, const ColorValue* colours, std::size_t count);
    // The picture stretched into the rectangle (device dots, from the top-left): each dot whose
    // centre lies inside takes the picture pixel under that centre, no smoothing. `pace` is
    // asked between rows; false leaves the rest undrawn.
    void drawPicture(const PictureView& picture, double x, double y, double width, double height,
                     const std::function<bool()>& pace = {});

    // The colour at a dot (white where nothing was drawn); kOutsidePicture off the page.
    ColorValue at(int x, int y) const;

    // The page's rows, compressed (line repeat byte, then runs of 3-byte pixels), handed to
    // `sink` in pieces; false once the sink fails.
    using Sink = std::function<bool(const char* data, std::size_t size)>;
    bool compressRows(const Sink& sink) const;

  private:
    std::uint32_t* row(std::int64_t y);

    int m_width;
    int m_height;
    // Rows never drawn on stay null and are written as white.
    std::vector<std::unique_ptr<std::uint32_t[]>> m_rows;
    std::size_t m_touched = 0;
};

}  // namespace plx
