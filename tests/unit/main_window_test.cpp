#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <filesystem>
#include <functional>

#include "app/message_box.h"
#include "tests/support/station_rig.h"

using namespace plx;
using plx::test::RecordingSurface;
using plx::test::StationRig;

TEST(MainWindow, ShowsTheSettingsAndTheDesignControls) {
    RecordingSurface surface;
    QtImageArea area;
    Form1 form(surface, area);
    ASSERT_TRUE(form.Form_Load("QLS-4100 Xe drivers standard/\\srv\\labels/1/60/20/extra"));
    form.show();
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Vemorin Plixagram Printing"));
    EXPECT_EQ(form.Command1->text(), QStringLiteral("Command1"));
    const char* expected[5] = {"QLS-4100 Xe drivers standard", "\\srv\\labels", "1", "60", "20"};
    for (int k = 0; k < 5; ++k) EXPECT_EQ(form.Label1[k]->text(), QString::fromUtf8(expected[k]));
    EXPECT_EQ(form.File1->count(), 0);
    EXPECT_EQ(form.Timer1->interval(), 10000);
    EXPECT_TRUE(form.Timer1->isActive());
    EXPECT_EQ(area.width(), 0);
    EXPECT_EQ(area.height(), 0);

    // Left to right along the top, file list under the button, picture to its right.
    for (int k = 1; k < 5; ++k) EXPECT_LT(form.Label1[k - 1]->x(), form.Label1[k]->x());
    EXPECT_LT(form.Command1->geometry().bottom(), form.File1->y());
    EXPECT_LT(form.File1->geometry().right(), form.Picture1->x());
    // The status line is visible, below the design area, and covers no control.
    ASSERT_TRUE(form.statusArea->isVisible());
    const QRect status(form.statusArea->mapTo(&form, QPoint(0, 0)), form.statusArea->size());
    for (QWidget* w : {static_cast<QWidget*>(form.Command1), static_cast<QWidget*>(form.File1),
                       static_cast<QWidget*>(form.Label1[0])}) {
        const QRect r(w->mapTo(&form, QPoint(0, 0)), w->size());
        EXPECT_FALSE(status.intersects(r)) << w->objectName().toStdString();
    }
    EXPECT_GT(status.height(), 0);
    EXPECT_LE(status.bottom(), form.height());
}

TEST(MainWindow, EmptyFieldsLeaveEmptyLabels) {
    RecordingSurface surface;
    QtImageArea area;
    Form1 form(surface, area);
    ASSERT_TRUE(form.Form_Load("////"));
    for (auto* l : form.Label1) EXPECT_TRUE(l->text().isEmpty());
    EXPECT_FALSE(form.Form_Load("a/b"));
    EXPECT_TRUE(form.Label1[0]->text().isEmpty());  // unchanged
    form.loadSettings(RunSettings{" p ", "", "", "", ""});
    EXPECT_EQ(form.Label1[0]->text(), QStringLiteral(" p "));
}

TEST(MainWindow, SettingsAreShownWholeOrCutWithTheirWholeTextAsTooltip) {
    RecordingSurface surface;
    QtImageArea area;
    Form1 form(surface, area);
    const std::string printer(120, 'P');
    ASSERT_TRUE(form.Form_Load(printer + "/jobs/1/60/20"));
    form.show();
    EXPECT_EQ(form.Label1[0]->text().toStdString(), printer) << "text() stays whole";
    EXPECT_TRUE(form.Label1[0]->elided());
    EXPECT_EQ(form.Label1[0]->toolTip().toStdString(), printer);
    EXPECT_FALSE(form.Label1[2]->elided());
    EXPECT_TRUE(form.Label1[2]->toolTip().isEmpty());
    // A bigger window gives the picture the room.
    const int pictureWidth = form.Picture1->width();
    form.resize(form.width() + 400, form.height() + 200);
    QApplication::processEvents();
    EXPECT_EQ(form.Picture1->width(), pictureWidth + 400);
}

TEST(MainWindow, FileListIsUpdatedInPlaceWithEachFilesState) {
    StationRig r;
    r.surface.state = QueueState{true, true, "out of labels", {"paused"}};
    r.drop("a_x_1.bmp");
    r.drop("c_x_1.bmp");
    r.tick();
    ASSERT_EQ(r.form.File1->count(), 2);
    QListWidgetItem* a = r.form.File1->item(0);
    QListWidgetItem* c = r.form.File1->item(1);
    EXPECT_TRUE(a->text().startsWith(QStringLiteral("a_x_1.bmp  —  waiting: print queue")));
    EXPECT_TRUE(a->toolTip().endsWith(QStringLiteral("is stopped: out of labels (paused)")))
        << a->toolTip().toStdString();

    r.tick();  // nothing changed: the same items
    r.drop("b_x_1.bmp");
    r.tick();
    ASSERT_EQ(r.form.File1->count(), 3);
    EXPECT_EQ(r.form.File1->item(0), a);
    EXPECT_EQ(r.form.File1->item(2), c);
    EXPECT_EQ(r.listing(), (std::vector<std::string>{"a_x_1.bmp", "b_x_1.bmp", "c_x_1.bmp"}));

    // Printing: each file becomes its job at the printer, then goes when the job has ended.
    r.surface.state = QueueState{};
    r.tick();
    ASSERT_EQ(r.form.File1->count(), 3);
    EXPECT_TRUE(
        r.form.File1->item(1)->text().endsWith(QStringLiteral("job QLS-4100-Xe-2 at the printer")))
        << r.form.File1->item(1)->text().toStdString();
    QListWidgetItem* held = r.form.File1->item(2);
    r.surface.setPhase(1, JobPhase::Completed);
    r.surface.setPhase(2, JobPhase::Completed);
    r.tick();
    ASSERT_EQ(r.form.File1->count(), 1);
    EXPECT_EQ(r.form.File1->item(0), held);
}

TEST(MainWindow, ModeThatPrintsNothingIsAnnouncedAtLoad) {
    StationRig r("4");
    EXPECT_TRUE(r.form.statusArea->text().contains(QStringLiteral("\"4\" prints nothing")));
}

TEST(MainWindow, ProgressTitleAfterADotPrint) {
    StationRig r;
    r.drop("a_b_1.bmp", 3, 943);
    r.tick();
    EXPECT_EQ(r.form.windowTitle(), QStringLiteral("940/943"));
    // A scaled-image job leaves the title as it was.
    StationRig three("3");
    three.drop("a_b_1.bmp", 3, 10);
    three.tick();
    EXPECT_EQ(three.form.windowTitle(), QStringLiteral("Vemorin Plixagram Printing"));
}

TEST(MainWindow, PictureIsShownFaithfullyAtAnySize) {
    // Red, green, blue and black in the corner quarters, white between; a side too thin to
    // have quarters is all first quarter.
    const auto colourAt = [](int x, int y, int w, int h) {
        const auto part = [](int v, int n) {
            return n < 32 || v < n / 4 ? 0 : v >= n - n / 4 ? 2 : 1;
        };
        const int px = part(x, w), py = part(y, h);
        if (px == 1 || py == 1) return ColorValue(0xFFFFFF);
        return px == 0 ? (py == 0 ? kPureRed : kPureBlue) : (py == 0 ? kPureGreen : kBlack);
    };
    struct Case {
        int w, h;
        bool palette;
    };
    for (const Case c : {Case{3000, 2000, false}, Case{3000, 2000, true}, Case{40000, 8, false},
                         Case{8, 30000, true}, Case{120, 90, true}}) {
        StationRig r("4");
        QImage picture(c.w, c.h, QImage::Format_RGB32);
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x) {
                const ColorValue v = colourAt(x, y, c.w, c.h);
                picture.setPixel(x, y, qRgb(redOf(v), greenOf(v), blueOf(v)));
            }
        if (c.palette) picture = picture.convertToFormat(QImage::Format_Indexed8);
        ASSERT_TRUE(picture.save(QString::fromStdString(r.path("big_b_1.bmp")), "BMP"));
        r.tick();
        const std::string what = std::to_string(c.w) + "x" + std::to_string(c.h);
        ASSERT_EQ(r.area.width(), float(c.w)) << what;
        ASSERT_EQ(r.area.picture().indexed(), c.palette) << what;

        // Whole, inside the part of the box that shows: at its own size when it fits, else
        // scaled down with its proportions.
        PictureBox& box = *r.form.Picture1;
        const QRect shown = box.pictureRect();
        const QWidget* client = box.parentWidget();
        EXPECT_LE(box.x() + shown.right(), client->width()) << what;
        EXPECT_LE(box.y() + shown.bottom(), client->height()) << what;
        const bool fits = shown.size() == QSize(c.w, c.h);
        if (!fits && shown.width() > 10 && shown.height() > 10) {
            EXPECT_NEAR(double(shown.width()) * c.h / (double(shown.height()) * c.w), 1.0, 0.02)
                << what;
        }

        const QImage painted = box.grab().toImage();
        for (const double fy : {0.1, 0.5, 0.9})
            for (const double fx : {0.1, 0.5, 0.9}) {
                const QRgb v = painted.pixel(shown.left() + int(fx * shown.width()),
                                             shown.top() + int(fy * shown.height()));
                EXPECT_EQ(colorFromRgb(std::uint8_t(qRed(v)), std::uint8_t(qGreen(v)),
                                       std::uint8_t(qBlue(v))),
                          colourAt(int(fx * c.w), int(fy * c.h), c.w, c.h))
                    << what << " at " << fx << "," << fy;
            }
        if (fits) {
            for (int y = 0; y < c.h; ++y)
                for (int x = 0; x < c.w; ++x)
                    ASSERT_EQ(painted.pixel(x, y), picture.pixel(x, y)) << x << "," << y;
        }
    }
}

TEST(MainWindow, TestPrintShowsTheMessageAndKeepsThePicture) {
    StationRig r("4");
    r.drop("a_b_1.bmp", 1, 1, {{{0, 0}, kBlack}});
    r.tick();  // mode 4 only loads the picture
    MessageBox::setNextAnswer(QMessageBox::Ok);
    r.form.Command1_Click();
    EXPECT_EQ(MessageBox::lastText(), QStringLiteral("Impression Terminée !"));
    ASSERT_EQ(r.surface.documents.size(), 1u);
    EXPECT_EQ(r.surface.documents[0].dots,
              (std::vector<test::RecordedDot>{{60, 20, kBlack}, {59, 20, kBlack}}));
    EXPECT_EQ(r.area.width(), 1);
    EXPECT_EQ(r.form.windowTitle(), QStringLiteral("1/1"));
    EXPECT_TRUE(r.form.Timer1->isActive());  // as it was

    // Without the fixed printer the page goes to the current one, and the message says so.
    r.surface.installed = {{"Office", "Office colour printer"}};
    r.surface.currentPrinter = r.surface.installed[0];
    MessageBox::setNextAnswer(QMessageBox::Ok);
    r.form.Command1_Click();
    EXPECT_EQ(MessageBox::lastText(),
              QStringLiteral("Impression Terminée !\n\nPrinted on \"Office\": \"QLS-4100 Xe "
                             "drivers standard\" is not installed."));
    // Nothing to plot: no job, and the message says that too.
    r.area.clear();
    MessageBox::setNextAnswer(QMessageBox::Ok);
    r.form.Command1_Click();
    EXPECT_TRUE(
        MessageBox::lastText().startsWith(QStringLiteral("Impression Terminée !\n\nNothing")));
    EXPECT_EQ(r.surface.documents.size(), 2u);
}

TEST(MainWindow, ButtonIsDisabledWhileAHotFolderJobPrints) {
    StationRig r;
    r.drop("a_b_1.bmp", 4, 400);
    bool sawDisabled = false;
    int clicksDuringJob = 0;
    // Fires inside the job's yields.
    QTimer probe;
    probe.setInterval(0);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (r.form.jobRunning()) {
            sawDisabled |= !r.form.Command1->isEnabled();
            r.form.Command1->click();  // a click on a disabled button does nothing
            r.form.Command1_Click();   // nor does a direct call during a job
            ++clicksDuringJob;
        }
    });
    probe.start();
    r.tick();
    probe.stop();
    EXPECT_GT(clicksDuringJob, 0);
    EXPECT_TRUE(sawDisabled);
    EXPECT_EQ(r.surface.documents.size(), 1u);
    EXPECT_TRUE(r.form.Command1->isEnabled());
}

TEST(MainWindow, NoTickStartsAJobDuringATestPrint) {
    StationRig r("4");
    r.drop("pic_b_1.bmp", 4, 200);
    r.tick();               // mode 4 loads the picture for the test print
    r.drop("job_b_1.bmp");  // would print if a tick ran
    bool timerActiveDuring = true;
    int ticksDuring = 0;
    QTimer probe;
    probe.setInterval(0);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (r.form.manualPrintRunning()) {
            timerActiveDuring &= r.form.Timer1->isActive();
            r.form.Timer1_Timer();
            ++ticksDuring;
        }
    });
    probe.start();
    MessageBox::setNextAnswer(QMessageBox::Ok);
    r.form.Command1_Click();
    probe.stop();
    EXPECT_GT(ticksDuring, 0);
    EXPECT_FALSE(timerActiveDuring);
    EXPECT_EQ(r.surface.documents.size(), 1u);  // only the test print
    EXPECT_TRUE(r.form.Timer1->isActive());     // restored
}

TEST(MainWindow, ClosingWhileAPictureDecodesOrPrintsAbandonsTheJobAndKeepsTheFile) {
    for (const bool decoding : {true, false}) {
        StationRig r;
        // A big picture takes a while to decode, and the window turns meanwhile.
        r.drop("a_b_1.bmp", decoding ? 3000 : 4, decoding ? 3000 : 400);
        QTimer probe;
        probe.setInterval(0);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            const bool loaded = r.area.width() > 0;
            if (r.form.jobRunning() && loaded != decoding) r.form.close();
        });
        probe.start();
        r.tick();
        EXPECT_TRUE(r.surface.documents.empty()) << decoding;
        EXPECT_EQ(r.surface.aborted, decoding ? 0 : 1);  // nothing drawn yet while decoding
        EXPECT_EQ(r.area.width(), decoding ? 0.f : 4.f);
        EXPECT_TRUE(r.exists("a_b_1.bmp"));
        EXPECT_TRUE(r.reported("a_b_1.bmp: ") && !r.reported("not printed")) << decoding;
        EXPECT_FALSE(r.form.Timer1->isActive());
    }
}

namespace {

// Runs the window's events until `done` or `ms` have passed.
bool turnUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

}  // namespace

// With the folder watched, a file renamed into it prints at once, long before the 10-second
// tick; one still being written waits until it is whole, and then prints at once too.
TEST(MainWindow, WatchedFolderPrintsAFileRenamedInAtOnceButNotAHalfWrittenOne) {
    StationRig r;
    r.form.watchFolderChanges();
    const std::string staged = r.dir.path().toStdString() + "/staged.bmp";
    ASSERT_TRUE(test::pictureWith(4, 3, {{{1, 1}, kBlack}}).save(QString::fromStdString(staged)));
    std::filesystem::rename(staged, r.path("a_b_1.bmp"));
    EXPECT_TRUE(turnUntil([&] { return r.surface.documents.size() == 1; }, 3000));

    QFile whole(QString::fromStdString(staged));
    ASSERT_TRUE(test::pictureWith(4, 3, {{{2, 2}, kPureRed}}).save(whole.fileName()) &&
                whole.open(QIODevice::ReadOnly));
    const QByteArray bytes = whole.readAll();
    QFile part(QString::fromStdString(r.path("b_b_1.bmp")));
    ASSERT_TRUE(part.open(QIODevice::WriteOnly));
    part.write(bytes.left(40));
    part.flush();
    turnUntil([] { return false; }, 500);
    EXPECT_EQ(r.surface.documents.size(), 1u) << "printed half-written";
    EXPECT_TRUE(r.exists("b_b_1.bmp"));
    part.write(bytes.mid(40));
    part.close();
    EXPECT_TRUE(turnUntil([&] { return r.surface.documents.size() == 2; }, 3000));
    EXPECT_FALSE(r.form.jobRunning());
}
