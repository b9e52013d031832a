#pragma once
// The document a job is drawn into, in the form its queue takes: the lossless PDF
// (label_document) or the printer's own raster (label_raster). Which one a queue gets is
// chosen on the print server's side (cups/document_route.h); this only writes it.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/color.h"
#include "document/label_document.h"
#include "printing/print_surface.h"

namespace plx {

// What the chosen document is and how to write it.
struct DocumentRoute {
    bool raster = false;
    std::string format = "application/pdf";
    // Raster only: the raster's size and first dot (in page dots from the page's top-left),
    // copies as repeated pages (the driver makes none), and the stream's sync word and page
    // header as libcups writes them.
    int width = 0;
    int height = 0;
    int left = 0;
    int top = 0;
    bool manualCopies = false;
    std::string syncWord;
    std::string pageHeader;
    std::string reason;  // why this route, for the log
};

// The document a job is drawn into, in page dots from the page's top-left.
class PrintDocument {
  public:
    using Sink = std::function<bool(const char* data, std::size_t size)>;

    virtual ~PrintDocument() = default;
    virtual void plot(double x, double y, ColorValue color) = 0;
    // colours[i] at (x0 + i, y); entries with a top byte set plot nothing.
    virtual void plotRow(std::int64_t x0, std::int64_t y, const ColorValue* colours,
                         std::size_t count) = 0;
    // `pace` is asked between rows; once it says stop, the rest is left undrawn.
    virtual void drawPicture(const PictureView& picture, double x, double y, double width,
                             double height, const KeepGoing& pace) = 0;
    // Nothing landed on the page (dots and pictures off the page do not count).
    virtual bool empty() const = 0;
    // Ends the drawing: a PDF is laid out and compressed here, a raster is compressed while
    // it is written. False when `pace` said stop on the way. May throw (std::bad_alloc,
    // std::runtime_error from zlib).
    virtual bool finish(const KeepGoing& pace) = 0;
    // The finished document of a job of `copies` copies, in pieces; false once `sink` fails.
    virtual bool writeTo(int copies, const Sink& sink) const = 0;
    // The copies are pages of the document itself: the print server must be asked for one,
    // or a backend handed the file would send it that many times more.
    virtual bool holdsCopies() const { return false; }
    const std::string& format() const { return m_format; }

  protected:
    explicit PrintDocument(std::string format) : m_format(std::move(format)) {}

  private:
    std::string m_format;
};

std::unique_ptr<PrintDocument> makePrintDocument(const DocumentRoute& route, const LabelPage& page);

}  // namespace plx
