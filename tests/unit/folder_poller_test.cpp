#include <gtest/gtest.h>

#include <QFile>
#include <filesystem>
#include <fstream>

#include "intake/folder_poller.h"
#include "intake/watch_folder.h"
#include "tests/support/station_rig.h"

using namespace plx;
using plx::test::StationRig;
namespace fs = std::filesystem;

namespace {

std::vector<int> copiesOf(const StationRig& r) {
    std::vector<int> out;
    for (const auto& d : r.surface.documents) out.push_back(d.copies);
    return out;
}
std::vector<std::string> jobNames(const StationRig& r) {
    std::vector<std::string> out;
    for (const auto& d : r.surface.documents) out.push_back(d.jobName);
    return out;
}
void truncateFile(const std::string& path, std::uintmax_t size) { fs::resize_file(path, size); }

}  // namespace

TEST(WatchFolder, BackslashesStandForSeparators) {
    EXPECT_EQ(watchFolderPath("\\srv\\labels"), fs::path("/srv/labels"));
    EXPECT_EQ(watchFolderPath("spool\\labels"), fs::path("spool/labels"));
    EXPECT_EQ(watchFolderPath("jobs"), fs::path("jobs"));
    EXPECT_EQ(jobFilePath("\\srv\\labels", "a_b_1.bmp"), fs::path("/srv/labels/a_b_1.bmp"));
    EXPECT_EQ(jobFilePath("spool\\", "x.bmp"), fs::path("spool/x.bmp"));
}

TEST(FolderPoller, JobFileNamesAndCopyCounts) {
    EXPECT_TRUE(isJobFileName("a.bmp"));
    EXPECT_TRUE(isJobFileName("LABEL_A_1.BMP"));
    EXPECT_TRUE(isJobFileName("x.BmP"));
    EXPECT_FALSE(isJobFileName(".hidden_1_1.bmp"));
    EXPECT_FALSE(isJobFileName("a.bmp.tmp"));
    EXPECT_FALSE(isJobFileName("a.bm"));
    EXPECT_FALSE(isJobFileName(".bmp"));

    EXPECT_EQ(*FolderPoller::copyCount("lot42_front_3.bmp"), 3);
    EXPECT_EQ(*FolderPoller::copyCount("a_b_2_x.bmp"), 2);
    EXPECT_EQ(*FolderPoller::copyCount("a_b_2.5.bmp"), 2);
    EXPECT_EQ(*FolderPoller::copyCount("a_b_3.5.bmp"), 4);
    EXPECT_EQ(*FolderPoller::copyCount("a_b_ 7.bmp"), 7);
    EXPECT_FALSE(FolderPoller::copyCount("a_b_c.bmp"));  // reads 0
    EXPECT_FALSE(FolderPoller::copyCount("a_b_-2.bmp"));
    EXPECT_FALSE(FolderPoller::copyCount("a_b_70000.bmp"));  // outside 16 bits
    EXPECT_FALSE(FolderPoller::copyCount("ab_3.bmp"));       // two fields only
    EXPECT_FALSE(FolderPoller::copyCount("a_b_0.4.bmp"));
}

TEST(FolderPoller, PrintsInNameOrderIgnoringCaseAndDeletes) {
    StationRig r;
    r.drop("b_x_2.bmp");
    r.drop("A_x_1.BMP");
    r.drop("c_x_3.Bmp");
    r.drop(".hidden_x_1.bmp");
    r.drop("notes_x_1.png");
    fs::create_directory(r.path("folder_x_1.bmp"));
    const std::string ro = r.drop("d_x_1.bmp");
    fs::permissions(ro, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);

    r.tick();
    EXPECT_EQ(r.listing(),
              (std::vector<std::string>{"A_x_1.BMP", "b_x_2.bmp", "c_x_3.Bmp", "d_x_1.bmp"}));
    EXPECT_EQ(jobNames(r),
              (std::vector<std::string>{"A_x_1.BMP", "b_x_2.bmp", "c_x_3.Bmp", "d_x_1.bmp"}));
    EXPECT_EQ(copiesOf(r), (std::vector<int>{1, 2, 3, 1}));
    for (const char* gone : {"A_x_1.BMP", "b_x_2.bmp", "c_x_3.Bmp", "d_x_1.bmp"}) {
        EXPECT_FALSE(r.exists(gone)) << gone;
    }
    EXPECT_TRUE(r.exists(".hidden_x_1.bmp"));
    EXPECT_TRUE(r.exists("notes_x_1.png"));
    EXPECT_TRUE(r.form.Timer1->isActive());
    EXPECT_TRUE(
        r.reported("b_x_2.bmp: printed in mode 1, 2 copies, printer \"QLS-4100 Xe "
                   "drivers standard\", job QLS-4100-Xe-2 ("));
    // Each job was its own document with its own dots, at the printer the settings name.
    ASSERT_EQ(r.surface.documents.size(), 4u);
    for (const auto& d : r.surface.documents) {
        EXPECT_EQ(d.printer, "QLS-4100-Xe");
        EXPECT_EQ(d.dots.size(), 1u);
    }

    r.tick();  // nothing left: the tick only re-enables the timer
    EXPECT_EQ(r.surface.documents.size(), 4u);
    EXPECT_TRUE(r.listing().empty());
    EXPECT_TRUE(r.form.Timer1->isActive());
}

TEST(FolderPoller, EachModeCallsItsProcedure) {
    StationRig two("2", "5/6");
    two.drop("a_b_1.bmp", 2, 300, {{{0, 200}, kBlack}, {{1, 0}, kPureRed}});
    two.tick();
    ASSERT_EQ(two.surface.documents.size(), 1u);
    EXPECT_EQ(two.surface.documents[0].dots,
              (std::vector<test::RecordedDot>{{6, 6, kPureRed}}));  // row 200 is past row 180
    EXPECT_EQ(two.form.printerDialog->member(26).toInt(), 5);

    StationRig three("3", "0.5/0.25");
    three.drop("a_b_2.bmp", 10, 20);
    three.tick();
    ASSERT_EQ(three.surface.documents.size(), 1u);
    EXPECT_EQ(three.surface.documents[0].pictures, 1);
    EXPECT_EQ(three.surface.documents[0].copies, 2);
    EXPECT_FALSE(three.exists("a_b_2.bmp"));
    EXPECT_EQ(three.area.width(), 0);  // cleared after the print
}

TEST(FolderPoller, BadJobsStayUntouchedAndAreReportedOnce) {
    StationRig r;
    { std::ofstream(r.path("broken_x_1.bmp")) << "this is not a picture"; }
    r.drop("two_fields.bmp");
    r.drop("a_b_c.bmp");
    r.drop("a_b_70000.bmp");
    r.drop("z_ok_1.bmp");
    r.tick();
    EXPECT_EQ(jobNames(r), (std::vector<std::string>{"z_ok_1.bmp"}));
    for (const char* kept : {"broken_x_1.bmp", "two_fields.bmp", "a_b_c.bmp", "a_b_70000.bmp"}) {
        EXPECT_TRUE(r.exists(kept)) << kept;
        EXPECT_TRUE(r.reported(kept)) << kept;
    }
    // File1 marks them with the reason.
    bool marked = false;
    for (int i = 0; i < r.form.File1->count(); ++i) {
        marked |=
            r.form.File1->item(i)->text().contains(QStringLiteral("broken_x_1.bmp  (not printed"));
    }
    EXPECT_TRUE(marked);

    r.takeReports();
    r.tick();  // unchanged: not tried or reported again
    EXPECT_TRUE(r.takeReports().empty());
    EXPECT_EQ(r.surface.documents.size(), 1u);

    // Once the file changes it is tried again.
    r.drop("broken_x_1.bmp");
    r.tick();
    EXPECT_EQ(r.surface.documents.size(), 2u);
    EXPECT_FALSE(r.exists("broken_x_1.bmp"));
}

TEST(FolderPoller, OffsetOutOfRangeKeepsTheFile) {
    StationRig r("1", "99999999999/0");
    r.drop("a_b_1.bmp");
    r.tick();
    EXPECT_TRUE(r.surface.documents.empty());
    EXPECT_TRUE(r.exists("a_b_1.bmp"));
    EXPECT_TRUE(r.reported("32-bit"));
    EXPECT_TRUE(r.form.Timer1->isActive());
}

TEST(FolderPoller, HalfWrittenFileWaitsAndPrintsOnceComplete) {
    StationRig r;
    const std::string p = r.drop("a_b_1.bmp", 50, 40);
    const auto full = fs::file_size(p);
    std::string bytes(full, '\0');
    {
        std::ifstream in(p, std::ios::binary);
        in.read(bytes.data(), std::streamsize(full));
    }
    truncateFile(p, full / 2);
    r.drop("b_b_1.bmp");
    r.tick();
    EXPECT_EQ(jobNames(r), (std::vector<std::string>{"b_b_1.bmp"}));
    EXPECT_TRUE(r.exists("a_b_1.bmp"));
    EXPECT_TRUE(r.reported("a_b_1.bmp: waiting"));

    r.tick();  // still incomplete: waits, nothing printed
    EXPECT_EQ(r.surface.documents.size(), 1u);

    {
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), std::streamsize(bytes.size()));
    }
    r.tick();
    EXPECT_EQ(jobNames(r), (std::vector<std::string>{"b_b_1.bmp", "a_b_1.bmp"}));
    r.tick();
    EXPECT_EQ(r.surface.documents.size(), 2u);
}

TEST(FolderPoller, PrintServerTroubleStopsTheTickAndRetriesExactlyOnce) {
    StationRig r;
    r.drop("a_b_1.bmp");
    r.drop("b_b_1.bmp");
    r.surface.failEndDocument = makeError(ErrorKind::PrintServer, "Printer not accepting jobs");
    r.tick();
    EXPECT_TRUE(r.surface.documents.empty());
    EXPECT_TRUE(r.exists("a_b_1.bmp"));
    EXPECT_TRUE(r.exists("b_b_1.bmp"));
    // The tick stopped at the first file: the second was not even tried.
    EXPECT_EQ(std::count(r.surface.ops.begin(), r.surface.ops.end(), "end document"), 1);
    EXPECT_TRUE(r.reported("Printer not accepting jobs"));
    EXPECT_TRUE(r.form.Timer1->isActive());

    r.takeReports();
    r.tick();  // still failing: said once, not every tick
    EXPECT_TRUE(r.takeReports().empty());

    r.surface.failEndDocument.reset();
    r.tick();
    EXPECT_EQ(jobNames(r), (std::vector<std::string>{"a_b_1.bmp", "b_b_1.bmp"}));
    EXPECT_TRUE(r.reported("print server available again"));
    r.tick();
    EXPECT_EQ(r.surface.documents.size(), 2u);
}

TEST(FolderPoller, FailedDeletionIsReportedAndNotPrintedAgain) {
    StationRig r;
    r.drop("a_b_1.bmp");
    r.form.poller()->setRemover(
        [](const fs::path&) { return std::make_error_code(std::errc::read_only_file_system); });
    r.tick();
    EXPECT_EQ(r.surface.documents.size(), 1u);
    EXPECT_TRUE(r.exists("a_b_1.bmp"));
    EXPECT_TRUE(r.reported("could not be deleted"));
    r.tick();
    r.tick();
    EXPECT_EQ(r.surface.documents.size(), 1u);
}

TEST(FolderPoller, MissingFolderIsWatchedUntilItAppears) {
    StationRig r;
    fs::remove_all(r.folder);
    r.tick();
    EXPECT_TRUE(r.reported("folder trouble"));
    EXPECT_TRUE(r.form.Timer1->isActive());
    r.takeReports();
    r.tick();
    EXPECT_TRUE(r.takeReports().empty());  // said once
    fs::create_directories(r.folder);
    r.drop("a_b_1.bmp");
    r.tick();
    EXPECT_EQ(r.surface.documents.size(), 1u);
    EXPECT_TRUE(r.reported("readable again"));
}

TEST(FolderPoller, ModeThatPrintsNothingShowsPicturesAndKeepsFiles) {
    StationRig r("4");
    r.drop("a_b_1.bmp", 5, 5);
    r.drop("b_b_1.bmp", 7, 3);
    r.tick();
    EXPECT_TRUE(r.surface.documents.empty());
    EXPECT_TRUE(r.exists("a_b_1.bmp"));
    EXPECT_TRUE(r.exists("b_b_1.bmp"));
    EXPECT_EQ(r.area.width(), 7);  // the last one stays for the test print
    EXPECT_TRUE(r.form.statusArea->text().contains(QStringLiteral("prints nothing")));

    r.takeReports();
    r.area.clear();
    r.tick();  // already shown and unchanged: not loaded again
    EXPECT_EQ(r.area.width(), 0);
    EXPECT_TRUE(r.takeReports().empty());
}

TEST(FolderPoller, SymbolicLinksAreNeverFollowedOrDeleted) {
    StationRig r;
    const std::string target = r.dir.path().toStdString() + "/outside_x_1.bmp";
    test::pictureWith(3, 3, {{{0, 0}, kBlack}}).save(QString::fromStdString(target), "BMP");
    fs::create_symlink(target, r.path("link_x_1.bmp"));
    r.tick();
    EXPECT_TRUE(r.surface.documents.empty());
    EXPECT_TRUE(r.exists("link_x_1.bmp"));
    EXPECT_TRUE(fs::exists(target));
    EXPECT_TRUE(r.reported("link_x_1.bmp: not a regular file"));
    EXPECT_EQ(r.area.width(), 0);
}

namespace {
// A host whose file vanishes between the listing and the load.
class VanishingHost : public JobHost {
  public:
    explicit VanishingHost(QtImageArea& a) : area(a) {}
    void setTimerEnabled(bool e) override { timer = e; }
    Result<void> loadPicture(const std::string& path) override {
        fs::remove(path);
        return area.load(path);
    }
    Result<std::string> printJob(std::int16_t, const std::string&) override {
        ++prints;
        return std::string("x-1");
    }
    void showListing(const std::vector<ListedFile>&) override {}
    void report(Severity, const Message& m) override { lines.push_back(m.text()); }
    bool stopping() const override { return false; }
    QtImageArea& area;
    bool timer = false;
    int prints = 0;
    std::vector<std::string> lines;
};
}  // namespace

TEST(FolderPoller, FileRemovedAfterListingIsSkipped) {
    QTemporaryDir dir;
    test::pictureWith(2, 2, {}).save(dir.filePath(QStringLiteral("a_b_1.bmp")), "BMP");
    test::pictureWith(2, 2, {}).save(dir.filePath(QStringLiteral("b_b_1.bmp")), "BMP");
    QtImageArea area;
    VanishingHost host(area);
    FolderPoller poller(host, {dir.path().toStdString(), "1", "p"});
    poller.tick();
    EXPECT_EQ(host.prints, 0);
    ASSERT_EQ(host.lines.size(), 2u);
    EXPECT_NE(host.lines[0].find("removed before it could be loaded"), std::string::npos);
    EXPECT_TRUE(host.timer);
}
