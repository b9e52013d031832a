// The start-up check of the print server's route, on folders laid out like a CUPS installation.
#include "cups/print_route_check.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/temp_folder_test.h"

using namespace plx;

namespace {

class PrintRoute : public test::TempFolderTest {
  protected:
    void SetUp() override {
        TempFolderTest::SetUp();
        places.filterDir = path("filter");
        places.mimeDirs = {path("mime")};
        places.programDirs = {path("bin")};
        for (const char* d : {"filter", "mime", "bin"}) std::filesystem::create_directory(path(d));
        for (const char* f : {"pdftopdf", "gstoraster", "pdftoraster"})
            program(std::string("filter/") + f);
        program("bin/gs");
        convs("cupsfilters.convs",
              "application/pdf application/vnd.cups-pdf 66 pdftopdf\n"
              "# poppler\n"
              "application/vnd.cups-pdf application/vnd.cups-raster 100 pdftoraster\n"
              "application/vnd.cups-pdf image/pwg-raster 100 pdftoraster\n");
        convs("ghostscript.convs",
              "application/vnd.cups-pdf\tapplication/vnd.cups-raster\t99\tgstoraster # gs\n"
              "application/vnd.cups-pdf image/pwg-raster 99 gstoraster\n");
    }
    void program(const std::string& name) {
        write(name, {'#', '!'});
        ::chmod(path(name).c_str(), 0755);
    }
    void convs(const std::string& name, const std::string& text) {
        std::ofstream(path("mime/" + name)) << text;
    }
    RouteReport check(bool local = true,
                      const std::optional<std::vector<std::string>>& formats =
                          std::vector<std::string>{"application/octet-stream", "application/pdf"}) {
        return checkRoute(kStationRoute, places, local, "Q", formats);
    }
    static std::string text(const RouteReport& r) {
        std::string all;
        for (const Message& m : r.problems) all += m.text() + "\n";
        return all;
    }
    RoutePlaces places;
};

}  // namespace

TEST_F(PrintRoute, CompleteRouteHasNoProblem) {
    const RouteReport r = check();
    EXPECT_TRUE(r.problems.empty()) << text(r);
    EXPECT_EQ(r.checked.size(), kStationRoute.size());
    EXPECT_EQ(cheapestConversion(places, "application/vnd.cups-pdf", "image/pwg-raster"),
              "gstoraster");
}

TEST_F(PrintRoute, EachMissingPieceIsNamed) {
    // Poppler made the cheaper renderer.
    convs("zz-local.convs",
          "application/vnd.cups-pdf application/vnd.cups-raster 10 pdftoraster\n");
    std::string t = text(check());
    EXPECT_NE(t.find("converts application/vnd.cups-pdf to application/vnd.cups-raster with "
                     "pdftoraster, not gstoraster"),
              std::string::npos)
        << t;
    std::filesystem::remove(path("mime/zz-local.convs"));

    // Without gstoraster CUPS falls back on poppler: both are said.
    std::filesystem::remove(path("filter/gstoraster"));
    std::filesystem::remove(path("bin/gs"));
    t = text(check());
    EXPECT_NE(t.find("filter gstoraster is missing from " + places.filterDir), std::string::npos)
        << t;
    EXPECT_NE(t.find("program gs is not installed"), std::string::npos) << t;
    EXPECT_NE(t.find("with pdftoraster, not gstoraster"), std::string::npos) << t;
    std::filesystem::remove(path("filter/pdftoraster"));
    EXPECT_NE(text(check()).find("cannot convert application/vnd.cups-pdf to image/pwg-raster"),
              std::string::npos);

    // A queue that does not take PDF; a remote server's filters are not looked at.
    const RouteReport remote = check(false, std::vector<std::string>{"image/pwg-raster"});
    ASSERT_EQ(remote.problems.size(), 1u) << text(remote);
    EXPECT_NE(text(remote).find("queue \"Q\" does not accept application/pdf"), std::string::npos);
    EXPECT_TRUE(check(false, std::nullopt).problems.empty());
}

TEST_F(PrintRoute, RasterQueueNeedsOnlyItsFormatAndItsDriversFilter) {
    RasterInput input;
    input.format = "application/vnd.cups-raster";
    input.program = "rastertolabel";
    const auto formats = std::vector<std::string>{"application/vnd.cups-raster"};
    const auto needs = rasterRouteNeeds(input);
    std::string t = text(checkRoute(needs, places, true, "Q", formats));
    EXPECT_NE(t.find("filter rastertolabel is missing"), std::string::npos) << t;
    program("filter/rastertolabel");
    EXPECT_TRUE(checkRoute(needs, places, true, "Q", formats).problems.empty());
    // A driver's filter named by its full path is looked for there.
    input.program = path("bin/gs");
    EXPECT_TRUE(checkRoute(rasterRouteNeeds(input), places, true, "Q", formats).problems.empty());
}
