#pragma once
// The print surface over a CUPS print server: each document becomes one CUPS job whose
// document (the printer's raster where its driver takes one, else a PDF) is written so that
// dots reach the printer's raster unchanged.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/document_route.h"
#include "platform/label_document.h"
#include "printing/print_surface.h"

namespace plx {

// What the last endDocument cost, for logging and the benchmarks.
struct SubmissionFigures {
    std::size_t documentBytes = 0;
    double buildSeconds = 0.0;   // laying out and compressing the PDF
    double submitSeconds = 0.0;  // create job .. cupsFinishDestDocument returning
    std::string format;          // the document format sent
    std::string route;           // why that document
};

class CupsPrintSurface : public PrintSurface {
  public:
    // The server libcups is configured for (CUPS_SERVER, client.conf, or the default socket).
    CupsPrintSurface();
    // A given server: a unix socket path or a host name (optionally host:port).
    explicit CupsPrintSurface(std::string server);
    ~CupsPrintSurface() override;

    std::vector<PrinterInfo> printers() override;
    void select(const PrinterInfo& printer) override;
    std::optional<PrinterInfo> current() const override;

    void setCopies(std::int16_t copies) override;
    void setUnit(Unit unit) override;
    void setPrintQuality(int dpi) override;

    void plot(float x, float y, ColorValue color) override;
    void plotRow(std::int64_t x0, float y, const ColorValue* colours, std::size_t count) override;
    void drawPicture(const PictureView& picture, double x, double y, double width,
                     double height) override;

    Result<std::string> endDocument(const std::string& jobName) override;
    void abortDocument() override;

    const std::string& server() const { return m_server; }
    // The resolution the open document is laid out for (0 when none is open).
    int documentDpi() const { return m_doc ? m_page.dpi : 0; }
    const SubmissionFigures& lastSubmission() const { return m_figures; }
    // Off: every document is a PDF, whatever the queue's driver takes (tests and benchmarks
    // compare the routes). Takes effect at the next document.
    void setRasterDocuments(bool on) { m_rasterDocuments = on; }

  private:
    // Opens the document at the first drawing operation: page size and resolution are
    // taken from the current printer then and stay fixed for this document.
    PrintDocument& document();
    double scale() const;

    std::string m_server;
    mutable std::optional<PrinterInfo> m_current;
    mutable bool m_currentKnown = false;  // the default destination was looked up or selected
    mutable std::string m_currentError;   // why there is no current printer
    std::int16_t m_copies = 1;
    Unit m_unit = Unit::Pixel;
    int m_quality = 0;  // requested dpi, 0 = the printer's default

    std::unique_ptr<PrintDocument> m_doc;
    LabelPage m_page;  // the open document's layout
    std::string m_docRoute;
    bool m_rasterDocuments = true;
    std::string m_docError;  // the printer could not be asked how to lay the page out
    ErrorKind m_docErrorKind = ErrorKind::PrintServer;
    double m_originX = 0.0;  // printable area's top-left corner, in device dots
    double m_originY = 0.0;
    std::string m_docMedia;
    SubmissionFigures m_figures;
};

}  // namespace plx
