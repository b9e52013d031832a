#include <gtest/gtest.h>

#include <QFile>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>

#include "intake/folder_poller.h"
#include "intake/holding_area.h"
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
    EXPECT_FALSE(isJobFileName("../up_x_1.bmp"));  // a record can name nothing outside

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
    r.drop("B_x_2.bmp");
    r.drop("a_x_1.BMP");
    r.drop("c_x_3.Bmp");
    r.drop(".hidden_x_1.bmp");
    r.drop("notes_x_1.png");
    fs::create_directory(r.path("folder_x_1.bmp"));
    const std::string ro = r.drop("d_x_1.bmp");
    fs::permissions(ro, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);

    r.tick();
    EXPECT_EQ(r.listing(),
              (std::vector<std::string>{"a_x_1.BMP", "B_x_2.bmp", "c_x_3.Bmp", "d_x_1.bmp"}));
    EXPECT_EQ(jobNames(r),
              (std::vector<std::string>{"a_x_1.BMP", "B_x_2.bmp", "c_x_3.Bmp", "d_x_1.bmp"}));
    EXPECT_EQ(copiesOf(r), (std::vector<int>{1, 2, 3, 1}));
    for (const char* gone : {"a_x_1.BMP", "B_x_2.bmp", "c_x_3.Bmp", "d_x_1.bmp"}) {
        EXPECT_FALSE(r.exists(gone)) << gone;
    }
    EXPECT_TRUE(r.exists(".hidden_x_1.bmp"));
    EXPECT_TRUE(r.exists("notes_x_1.png"));
    EXPECT_TRUE(r.form.Timer1->isActive());
    EXPECT_TRUE(
        r.reported("B_x_2.bmp: sent to print queue \"QLS-4100-Xe\" as job QLS-4100-Xe-2 (mode 1, 2 "
                   "copies, printer \"QLS-4100 Xe drivers standard\", "));
    // Each job was its own document with its own dots, at the printer the settings name.
    ASSERT_EQ(r.surface.documents.size(), 4u);
    for (const auto& d : r.surface.documents) {
        EXPECT_EQ(d.printer, "QLS-4100-Xe");
        EXPECT_EQ(d.dots.size(), 1u);
    }

    r.tick();  // nothing left: the tick only re-enables the timer
    EXPECT_EQ(r.surface.documents.size(), 4u);
    // The folder is empty; the list shows the four jobs still at the printer.
    ASSERT_EQ(r.form.File1->count(), 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(r.form.File1->item(i)->text().contains(QStringLiteral("at the printer")));
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
    r.drop("0_ok_1.bmp");
    r.tick();
    EXPECT_EQ(jobNames(r), (std::vector<std::string>{"0_ok_1.bmp"}));
    for (const char* kept : {"broken_x_1.bmp", "two_fields.bmp", "a_b_c.bmp", "a_b_70000.bmp"}) {
        EXPECT_TRUE(r.exists(kept)) << kept;
        EXPECT_TRUE(r.reported(kept)) << kept;
    }
    EXPECT_EQ(r.area.width(), 4);  // the last, two_fields.bmp, was shown before its count was read
    // File1 marks them with the reason.
    bool marked = false;
    for (int i = 0; i < r.form.File1->count(); ++i) {
        marked |= r.form.File1->item(i)->text().contains(
            QStringLiteral("broken_x_1.bmp  —  not printed"));
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

    r.takeReports();
    r.tick();  // still incomplete: waits, nothing printed, nothing said again
    EXPECT_EQ(r.surface.documents.size(), 1u);
    EXPECT_FALSE(r.reported("a_b_1.bmp: waiting"));

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

// A long batch does not hold back the jobs already handed over: they are followed between
// files, and those that ended are done with before the batch is.
TEST(FolderPoller, JobsAreFollowedWhileABigBatchIsHandedOver) {
    StationRig r;
    r.form.setPollInterval(1);  // the jobs are followed as often as the timer ticks
    r.restart();
    r.surface.completeAtOnce = true;
    for (const char* name : {"a_b_1.bmp", "b_b_1.bmp", "c_b_1.bmp", "d_b_1.bmp"}) r.drop(name);
    r.tick();
    auto at = [&](const std::string& fragment) {
        return std::find_if(
                   r.reports.begin(), r.reports.end(),
                   [&](const std::string& l) { return l.find(fragment) != std::string::npos; }) -
               r.reports.begin();
    };
    ASSERT_EQ(r.surface.documents.size(), 4u);
    EXPECT_LT(at("a_b_1.bmp: printed on print queue"), at("d_b_1.bmp: sent to print queue"));
    EXPECT_LT(at("d_b_1.bmp: sent"), std::ptrdiff_t(r.reports.size()));
}

namespace {
// A window stand-in whose picture loading a test scripts; its jobs wait for ever.
class ScriptedHost : public JobHost {
  public:
    explicit ScriptedHost(std::function<Result<void>(const std::string&)> load)
        : m_load(std::move(load)) {}
    void setTimerEnabled(bool e) override { timer = e; }
    Result<PrinterReadiness> printerReadiness() override {
        PrinterReadiness r;
        r.queue = "x";
        return r;
    }
    Result<void> loadPicture(int, const std::string& name) override { return m_load(name); }
    Result<JobRef> printJob(std::int16_t, const std::string&, const std::string&) override {
        ++prints;
        return JobRef{"x", prints, {}};
    }
    Result<std::vector<JobStatus>> jobs(const std::string&, int) override {
        std::vector<JobStatus> waiting(std::size_t(prints), JobStatus{});
        for (int i = 0; i < prints; ++i) waiting[std::size_t(i)].id = i + 1;
        return waiting;
    }
    Result<JobChanges> jobChanges() override { return JobChanges{}; }
    Result<std::vector<JobStatus>> jobsById(const std::vector<int>&) override {
        return std::vector<JobStatus>{};
    }
    void yieldToWindow() override {}
    void showListing(const std::vector<ListedFile>&) override { ++listings; }
    void report(Severity, const Message& m) override { lines.push_back(m.text()); }
    void showConditions(const std::vector<StationCondition>&) override {}
    bool stopping() const override { return false; }
    bool timer = false;
    int prints = 0;
    int listings = 0;
    std::vector<std::string> lines;

  private:
    std::function<Result<void>(const std::string&)> m_load;
};
}  // namespace

// A file removed or replaced while it is read is not printed: what is claimed must be what
// was read.
TEST(FolderPoller, FileRemovedOrReplacedWhileReadIsNotPrinted) {
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    test::pictureWith(2, 2, {}).save(dir.filePath(QStringLiteral("a_b_1.bmp")), "BMP");
    test::pictureWith(2, 2, {}).save(dir.filePath(QStringLiteral("b_b_1.bmp")), "BMP");
    ScriptedHost host([&](const std::string& name) -> Result<void> {
        fs::remove(folder + "/" + name);
        if (name == "b_b_1.bmp")
            test::pictureWith(3, 3, {}).save(QString::fromStdString(folder + "/" + name), "BMP");
        return {};
    });
    FolderPoller poller(host, {dir.path().toStdString(), "1", "p"});
    poller.tick();
    EXPECT_EQ(host.prints, 0);
    ASSERT_EQ(host.lines.size(), 2u);
    EXPECT_NE(host.lines[0].find("a_b_1.bmp: removed before it could be printed"),
              std::string::npos);
    EXPECT_NE(host.lines[1].find("b_b_1.bmp: waiting: the file is still being written"),
              std::string::npos);
    EXPECT_TRUE(fs::exists(folder + "/b_b_1.bmp")) << "the new file stays where it was put";
    EXPECT_TRUE(host.timer);
}

// A file written to while it is read (appended to, or rewritten in place at the same size,
// which only its time tells) waits until it has stayed the same for a whole tick, then prints
// once.
TEST(FolderPoller, FileChangedWhileReadPrintsOnceAfterItStaysTheSameForATick) {
    for (const bool inPlace : {false, true}) {
        QTemporaryDir dir;
        const std::string path = dir.filePath(QStringLiteral("a_b_1.bmp")).toStdString();
        test::pictureWith(2, 2, {{{0, 0}, kBlack}}).save(QString::fromStdString(path), "BMP");
        // An hour old: a rewrite in the same clock tick as the save still shows.
        fs::last_write_time(path, fs::last_write_time(path) - std::chrono::hours(1));
        const int changes = inPlace ? 1 : 2;
        int left = changes;
        ScriptedHost host([&](const std::string&) -> Result<void> {
            if (left-- <= 0) return {};
            if (inPlace) {  // the black dot at the top left turns white
                std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
                f.seekp(-8, std::ios::end);
                f << "\xFF\xFF\xFF";
            } else {
                std::ofstream(path, std::ios::app) << "more";
            }
            return {};
        });
        FolderPoller poller(host, {dir.path().toStdString(), "1", "p"});
        for (int t = 0; t < changes; ++t) poller.tick();
        EXPECT_EQ(host.prints, 0) << (inPlace ? "rewritten" : "appended to");
        poller.tick();
        EXPECT_EQ(host.prints, 1);
        poller.tick();
        EXPECT_EQ(host.prints, 1);
    }
}

// A tick costs what changed: files whose decision holds are not opened again, and the window's
// list is told nothing when nothing changed; a file that changes is looked at again.
TEST(FolderPoller, IdleTickLooksOnlyAtWhatChanged) {
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    for (const char* name : {"a_x_1.bmp", "b_x_1.bmp", "c_x_1.bmp"})
        std::ofstream(folder + "/" + name) << "not a picture";
    std::map<std::string, int> loads;
    ScriptedHost host([&](const std::string& name) -> Result<void> {
        ++loads[name];
        return makeError(ErrorKind::Invalid, "not a picture");
    });
    FolderPoller poller(host, {folder, "1", "p"});
    poller.tick();
    const int shown = host.listings;
    EXPECT_GE(shown, 1);
    poller.tick();
    poller.tick();
    EXPECT_EQ(loads,
              (std::map<std::string, int>{{"a_x_1.bmp", 1}, {"b_x_1.bmp", 1}, {"c_x_1.bmp", 1}}));
    EXPECT_EQ(host.listings, shown) << "nothing changed, nothing shown";

    std::ofstream(folder + "/b_x_1.bmp", std::ios::app) << " still";
    std::ofstream(folder + "/d_x_1.bmp") << "new";
    poller.tick();
    EXPECT_EQ(loads, (std::map<std::string, int>{
                         {"a_x_1.bmp", 1}, {"b_x_1.bmp", 2}, {"c_x_1.bmp", 1}, {"d_x_1.bmp", 1}}));
    EXPECT_GT(host.listings, shown);
}

// A file that cannot be read for a reason of the system's, not its own, is tried at every tick
// (said once) instead of being set aside until it changes.
TEST(FolderPoller, ReadErrorsAreRetriedAtTheNextTick) {
    QTemporaryDir dir;
    test::pictureWith(2, 2, {{{0, 0}, kBlack}})
        .save(dir.filePath(QStringLiteral("a_b_1.bmp")), "BMP");
    int failures = 2;
    ScriptedHost host([&](const std::string&) -> Result<void> {
        if (failures-- > 0) return makeError(ErrorKind::Io, "Input/output error");
        return {};
    });
    FolderPoller poller(host, {dir.path().toStdString(), "1", "p"});
    poller.tick();
    poller.tick();
    EXPECT_EQ(host.prints, 0);
    EXPECT_EQ(std::count_if(host.lines.begin(), host.lines.end(),
                            [](const std::string& l) {
                                return l.find("tried again at the next tick") != std::string::npos;
                            }),
              1);
    poller.tick();
    EXPECT_EQ(host.prints, 1);
}

TEST(FolderPoller, StoppedQueueKeepsTheFilesAndPrintsEachOnceWhenItTakesJobsAgain) {
    StationRig r;
    r.surface.state = QueueState{true, true, "out of labels", {"paused"}};
    r.drop("a_b_1.bmp");
    r.drop("b_b_2.bmp");
    r.tick();
    EXPECT_TRUE(r.surface.documents.empty());
    EXPECT_TRUE(r.exists("a_b_1.bmp") && r.exists("b_b_2.bmp"));
    EXPECT_TRUE(r.reported("print queue \"QLS-4100-Xe\" is stopped: out of labels (paused)"));
    EXPECT_TRUE(r.form.statusArea->text().contains(QStringLiteral("out of labels")));
    for (int i = 0; i < r.form.File1->count(); ++i) {
        EXPECT_TRUE(
            r.form.File1->item(i)->text().contains(QStringLiteral("—  waiting: print queue")))
            << r.form.File1->item(i)->text().toStdString();
    }
    r.takeReports();
    r.tick();
    EXPECT_TRUE(r.takeReports().empty());  // said once

    // Started again, with a warning that does not stop it: each file once, the warning once.
    r.surface.state = QueueState{false, true, "", {"toner-low-report"}};
    r.tick();
    r.tick();
    EXPECT_EQ(jobNames(r), (std::vector<std::string>{"a_b_1.bmp", "b_b_2.bmp"}));
    EXPECT_TRUE(r.reported("takes jobs again"));
    EXPECT_EQ(std::count_if(r.reports.begin(), r.reports.end(),
                            [](const std::string& l) {
                                return l.find("toner-low-report") != std::string::npos;
                            }),
              1);
    EXPECT_FALSE(r.form.statusArea->text().contains(QStringLiteral("out of labels")));

    // A queue that rejects jobs holds them back the same way.
    r.surface.state = QueueState{false, false, "", {}};
    r.drop("c_b_1.bmp");
    r.tick();
    EXPECT_TRUE(r.exists("c_b_1.bmp"));
    EXPECT_TRUE(r.reported("is not accepting jobs"));
}

// Each job is followed to its end: completed, failed (printed again, but not forever),
// cancelled by a person; forgotten by the server, or its number given to another job, it is
// printed again rather than taken as printed. The first look asks each queue for all the
// station's jobs; after that only the jobs the server says changed are asked about.
TEST(FolderPoller, HandedOverJobsEndAsThePrinterSays) {
    StationRig r;
    const std::vector<std::string> names{"a_b_1.bmp", "b_b_1.bmp", "c_b_1.bmp", "d_b_1.bmp",
                                         "e_b_1.bmp"};
    for (const std::string& n : names) r.drop(n);
    r.tick();
    ASSERT_EQ(r.surface.documents.size(), 5u);
    EXPECT_TRUE(r.reported("a_b_1.bmp: sent to print queue \"QLS-4100-Xe\" as job QLS-4100-Xe-1"));
    for (const std::string& n : names) EXPECT_FALSE(r.exists(n)) << n << " is still there";
    EXPECT_EQ(r.held().size(), 11u) << "a file and its record each, and the station's lock";

    r.surface.setPhase(1, JobPhase::Completed, "completed", "", 2);
    r.surface.setPhase(2, JobPhase::Failed, "aborted", "job-aborted-by-system");
    r.surface.setPhase(3, JobPhase::CanceledByPerson, "canceled", "job-canceled-by-user");
    r.surface.jobStatuses.erase(4);
    r.surface.jobStatuses[5] =
        JobStatus{JobPhase::Completed, "completed", "", "", 1, 5, "urn:uuid:another-client", ""};
    r.drop("e_b_1.bmp");  // a new file under the name of one held
    const int asked = r.surface.jobQueries;
    r.tick();
    EXPECT_EQ(r.surface.jobQueries, asked + 1) << "one question for the queue";
    EXPECT_TRUE(
        r.reported("a_b_1.bmp: printed on print queue \"QLS-4100-Xe\": job QLS-4100-Xe-1 "
                   "completed at the printer (2 page(s))"));
    EXPECT_TRUE(
        r.reported("b_b_1.bmp: job QLS-4100-Xe-2 failed at the printer (aborted: "
                   "job-aborted-by-system): put back as b_b_1.bmp"));
    EXPECT_TRUE(r.reported("c_b_1.bmp: job QLS-4100-Xe-3 was cancelled"));
    EXPECT_TRUE(
        r.reported("d_b_1.bmp: the print server no longer knows job QLS-4100-Xe-4, so whether "
                   "it printed cannot be told: put back as d_b_1.bmp to be printed again"));
    EXPECT_TRUE(
        r.reported("e_b_1.bmp: job number QLS-4100-Xe-5 now belongs to another job on the print "
                   "server, so whether it printed cannot be told: put back as "
                   "retry5-e_b_1.bmp"));
    EXPECT_FALSE(r.reported("job QLS-4100-Xe-5 completed"));
    const std::vector<std::string> all = jobNames(r);
    EXPECT_EQ(
        std::vector<std::string>(all.begin() + 5, all.end()),
        (std::vector<std::string>{"b_b_1.bmp", "d_b_1.bmp", "e_b_1.bmp", "retry5-e_b_1.bmp"}));

    // A printer that fails the same label again and again gets it no more.
    r.surface.setPhase(6, JobPhase::Failed, "aborted");
    const int swept = r.surface.jobQueries;
    const int byNumber = r.surface.idQueries;
    r.tick();
    EXPECT_EQ(r.surface.jobQueries, swept) << "no sweep while the server tells what changed";
    EXPECT_EQ(r.surface.idQueries, byNumber + 1);
    EXPECT_TRUE(r.reported("b_b_1.bmp: job QLS-4100-Xe-6 failed at the printer"));
    r.surface.setPhase(10, JobPhase::Failed, "aborted");
    r.tick();
    r.tick();
    EXPECT_EQ(r.surface.documents.size(), 10u);
    EXPECT_TRUE(r.exists("b_b_1.bmp"));
    EXPECT_TRUE(r.reported("set aside: it failed 3 times in a row"));
}
