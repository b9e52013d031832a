// The held folder against the watch folder's writers, claims recovered at every step of a
// hand-over, and file systems that cannot take a claim.
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>

#include <gtest/gtest.h>

#include "intake/holding_area.h"
#include "tests/support/station_rig.h"

using namespace plx;
using plx::test::StationRig;
namespace fs = std::filesystem;

namespace {

std::string contentOf(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::size_t said(const StationRig& r, const std::string& fragment) {
    return std::size_t(std::count_if(r.reports.begin(), r.reports.end(), [&](const auto& l) {
        return l.find(fragment) != std::string::npos;
    }));
}

bool statusSays(const StationRig& r, const std::string& fragment) {
    return r.form.statusArea->text().toStdString().find(fragment) != std::string::npos;
}

// Files of the station's user outside the watch folder, and what they hold.
struct Outside {
    Outside() {
        fs::create_directories(path);
        std::ofstream(path + "/keep_x_1.bmp") << "a picture of someone else's";
        std::ofstream(path + "/secret") << "the station user's own";
        ::chmod((path + "/secret").c_str(), 0600);
    }
    std::map<std::string, std::string> contents() const {
        std::map<std::string, std::string> out;
        for (const auto& e : fs::directory_iterator(path))
            out[e.path().filename().string()] = contentOf(e.path());
        return out;
    }
    QTemporaryDir dir;
    std::string path = dir.path().toStdString() + "/station-files";
};

}  // namespace

// Whatever a writer of the watch folder puts under the held folder's name is neither used
// nor touched: nothing prints, the station says why once, and once it is mended each file
// prints once.
TEST(HeldFolder, NotTheStationsOwnIsNeitherUsedNorTouched) {
    struct Case {
        const char* what;
        std::function<void(const std::string& held, const std::string& outside)> plant;
        const char* says;
    };
    const Case cases[] = {
        {"a symbolic link", [](auto& h, auto& o) { fs::create_symlink(o, h); },
         "is a symbolic link"},
        {"a regular file", [](auto& h, auto&) { std::ofstream(h) << "in the way"; },
         "is not a folder"},
        {"a folder of another user",
         [](auto& h, auto&) {
             fs::create_directory(h);
             ASSERT_EQ(::chown(h.c_str(), 65534, 65534), 0);
             ::chmod(h.c_str(), 0700);
         },
         "belongs to user"},
        {"a folder others may write",
         [](auto& h, auto&) {
             fs::create_directory(h);
             ::chmod(h.c_str(), 0770);
         },
         "can be written by others than its owner (mode 0770)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Outside outside;
        const auto before = outside.contents();
        StationRig r;
        // Taken away from under the running station and something else put in its place.
        fs::remove_all(r.heldPath());
        c.plant(r.heldPath(), outside.path);
        const auto planted = fs::symlink_status(r.heldPath());
        r.drop("a_b_1.bmp");
        r.tick();
        r.tick();
        EXPECT_TRUE(r.surface.documents.empty());
        EXPECT_TRUE(r.exists("a_b_1.bmp"));
        EXPECT_EQ(said(r, c.says), 1u);
        EXPECT_TRUE(statusSays(r, c.says)) << r.form.statusArea->text().toStdString();
        EXPECT_EQ(outside.contents(), before);
        EXPECT_EQ(fs::symlink_status(r.heldPath()).type(), planted.type());
        EXPECT_EQ(fs::symlink_status(r.heldPath()).permissions(), planted.permissions());

        fs::remove_all(r.heldPath());  // a link goes, never its target
        r.tick();
        EXPECT_EQ(r.surface.documents.size(), 1u);
        EXPECT_FALSE(r.exists("a_b_1.bmp"));
        EXPECT_TRUE(r.reported("job files are taken again"));
        EXPECT_EQ(outside.contents(), before);
    }
}

// Half-written records and records planted as links or naming files outside the folder are
// cleared away at the start without anything outside being read, written or moved.
TEST(HeldFolder, StrayRecordsCannotReachOutsideTheWatchFolder) {
    const Outside outside;
    const auto before = outside.contents();
    StationRig r("1", "0/0", [&](const std::string& folder) {
        const std::string held = folder + "/" + HoldingArea::kFolderName;
        fs::create_directory(held);
        ::chmod(held.c_str(), 0700);
        fs::create_symlink(outside.path + "/secret", held + "/0a0a.tmp");
        fs::create_symlink(outside.path + "/secret", held + "/0b0b.job");
        std::ofstream(held + "/0c0c.job")
            << "name=../station-files/keep_x_1.bmp\nqueue=QLS-4100-Xe\ntoken=0c0c\nafter=0\n"
               "device=0\ninode=0\nsize=0\nmtime=0\n";
        std::ofstream(held + "/0c0c.bmp") << "held";
    });
    r.tick();
    EXPECT_EQ(outside.contents(), before);
    EXPECT_EQ(r.held(), std::vector<std::string>{"station.lock"});
    // The held file whose record made no sense is back in the folder, under its own name.
    EXPECT_TRUE(r.exists("0c0c.bmp"));
    EXPECT_TRUE(r.surface.documents.empty());
}

// A station stopped at any step of a hand-over prints each label once: before the job was
// sent, after it was sent but before its number was recorded, and after.
TEST(HeldFolder, ClaimsAreSettledAfterAStopAtEachStepOfTheHandOver) {
    StationRig r;
    // Before it was sent: claimed, and the server never got it.
    r.drop("a_b_1.bmp");
    r.surface.failEndDocument = makeError(ErrorKind::Unanswered, "no answer");
    r.tick();
    r.surface.failEndDocument.reset();
    EXPECT_FALSE(r.exists("a_b_1.bmp"));
    r.restart();
    r.tick();
    EXPECT_TRUE(
        r.reported("a_b_1.bmp: claimed, but the print server has no job for it: put "
                   "back as a_b_1.bmp to be printed again"));
    ASSERT_EQ(r.surface.documents.size(), 1u);
    r.surface.setPhase(1, JobPhase::Completed, "completed");

    // Sent, but stopped before its number was recorded.
    r.drop("b_b_1.bmp");
    r.surface.loseAnswer = true;
    r.tick();
    r.surface.loseAnswer = false;
    r.restart();
    r.surface.setPhase(2, JobPhase::Completed, "completed");
    r.tick();
    EXPECT_TRUE(r.reported("b_b_1.bmp: the print server has it as job QLS-4100-Xe-2"));
    EXPECT_TRUE(r.reported("b_b_1.bmp: printed on print queue \"QLS-4100-Xe\": job QLS-4100-Xe-2"));

    // Recorded, then stopped while the printer still had it.
    r.drop("c_b_1.bmp");
    r.tick();
    r.restart();
    EXPECT_TRUE(r.reported("following 1 job(s) handed over before the station was last stopped"));
    r.surface.setPhase(3, JobPhase::Completed, "completed");
    r.tick();
    EXPECT_TRUE(r.reported("c_b_1.bmp: printed on print queue \"QLS-4100-Xe\": job QLS-4100-Xe-3"));

    EXPECT_EQ(r.surface.documents.size(), 3u) << "each label once";
    EXPECT_EQ(r.held(), std::vector<std::string>{"station.lock"});
    EXPECT_TRUE(r.listing().empty());
}

namespace {

// A small tmpfs mounted on the watch folder, taken away (lazily: the station still has it
// open) before the folder is removed.
struct FolderOnTmpfs {
    // `prepare` runs on the mounted folder before the station starts.
    FolderOnTmpfs(const char* options, const std::function<void(const std::string&)>& prepare)
        : rig("1", "0/0", [&](const std::string& folder) {
              if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, options) != 0) return;
              mounted = folder;
              for (const char* name : {"a_b_1.bmp", "b_b_1.bmp"})
                  test::pictureWith(4, 3, {{{1, 1}, kBlack}})
                      .save(QString::fromStdString(folder + "/" + name), "BMP");
              if (prepare) prepare(folder);
          }) {}
    ~FolderOnTmpfs() {
        if (!mounted.empty()) ::umount2(mounted.c_str(), MNT_DETACH);
    }
    std::string mounted;  // declared before the rig: set while the rig is made
    StationRig rig;
};

}  // namespace

// No space, no inodes, a read-only folder: no claim can be written, so nothing is sent; the
// station says so once, the files stay, and each prints once when it is mended.
TEST(HeldFolder, ClaimThatCannotBeWrittenSendsNothingUntilMended) {
    using Step = std::function<void(const std::string& folder)>;
    struct Case {
        const char* options;
        Step beforeStart;
        Step spoil;
        Step mend;
        const char* says;
    };
    const Case cases[] = {
        {"size=256k",
         {},
         [](const std::string& f) {
             std::ofstream out(f + "/filler", std::ios::binary);
             const std::string block(4096, 'x');
             while (out.write(block.data(), std::streamsize(block.size()))) {
             }
         },
         [](const std::string& f) { fs::remove(f + "/filler"); },
         "No space left on device"},
        {"nr_inodes=32",
         {},
         [](const std::string& f) {
             for (int i = 0; std::ofstream(f + "/inode" + std::to_string(i)); ++i) {
             }
         },
         [](const std::string& f) {
             for (int i = 0; fs::remove(f + "/inode" + std::to_string(i)); ++i) {
             }
         },
         "No space left on device"},
        // Read-only before the station starts (a read-only remount waits for no open writer).
        {"size=256k",
         [](const std::string& f) {
             ::mount(nullptr, f.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr);
         },
         {},
         [](const std::string& f) { ::mount(nullptr, f.c_str(), nullptr, MS_REMOUNT, nullptr); },
         "is not writable by the station (user root): nothing is printed until it is; as a "
         "service, give it write access: see plixagram(1), WATCH FOLDER ACCESS"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        FolderOnTmpfs on(c.options, c.beforeStart);
        if (on.mounted.empty()) GTEST_SKIP() << "a tmpfs cannot be mounted here (needs root)";
        StationRig& r = on.rig;
        if (c.spoil) c.spoil(r.folder);
        r.tick();
        r.tick();
        EXPECT_TRUE(r.surface.documents.empty());
        EXPECT_TRUE(r.exists("a_b_1.bmp") && r.exists("b_b_1.bmp"));
        // Said once: at the start when it was so then (the rig's reports begin after that).
        EXPECT_EQ(said(r, c.says), c.beforeStart ? 0u : 1u);
        EXPECT_TRUE(statusSays(r, c.says));
        for (const std::string& n : r.held())
            EXPECT_EQ(n, "station.lock") << "nothing half-written is left";

        c.mend(r.folder);
        r.tick();
        r.tick();
        EXPECT_EQ(r.surface.documents.size(), 2u);
        EXPECT_FALSE(r.exists("a_b_1.bmp") || r.exists("b_b_1.bmp"));
    }
}
