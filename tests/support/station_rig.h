#pragma once
// The real main window over a recording print surface and the real picture loader, with a
// temporary watch folder.

#include <QImage>
#include <QTemporaryDir>
#include <functional>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "picture/qt_image_area.h"
#include "tests/support/recording_surface.h"

namespace plx::test {

struct StationRig {
    // `before` runs on the fresh watch folder before the station starts on it.
    explicit StationRig(const std::string& mode = "1", const std::string& offsets = "0/0",
                        const std::function<void(const std::string& folder)>& before = {});

    // A job file of w x h pixels, white with the given dots.
    std::string drop(const std::string& name, int w = 4, int h = 3,
                     const std::vector<std::pair<QPoint, ColorValue>>& dots = {{{1, 1}, kBlack}});
    bool exists(const std::string& name) const;
    std::string path(const std::string& name) const;
    void tick() { form.Timer1_Timer(); }
    // The station started again on the same folder and print server, as after a kill: what
    // it knew in memory is gone, what it wrote is not.
    void restart();
    // The held folder, and the names in it.
    std::string heldPath() const;
    std::vector<std::string> held() const;
    // Reports seen since the last call.
    std::vector<std::string> takeReports();
    bool reported(const std::string& fragment) const;
    std::vector<std::string> listing() const;

    QTemporaryDir dir;
    std::string folder;
    RecordingSurface surface;
    QtImageArea area;
    Form1 form{surface, area};
    std::vector<std::string> reports;
    std::string arguments;
};

QImage pictureWith(int w, int h, const std::vector<std::pair<QPoint, ColorValue>>& dots);

}  // namespace plx::test
