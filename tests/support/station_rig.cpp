#include "tests/support/station_rig.h"

#include <QFile>
#include <algorithm>
#include <filesystem>

#include "intake/holding_area.h"

#include "tests/support/station_process.h"

namespace plx::test {

QImage pictureWith(int w, int h, const std::vector<std::pair<QPoint, ColorValue>>& dots) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(Qt::white);
    for (const auto& [p, c] : dots) img.setPixel(p, qRgb(redOf(c), greenOf(c), blueOf(c)));
    return img;
}

StationRig::StationRig(const std::string& mode, const std::string& offsets,
                       const std::function<void(const std::string&)>& before) {
    folder = dir.path().toStdString() + "/jobs";
    std::filesystem::create_directories(folder);
    if (before) before(folder);
    form.setReportHook([this](const std::string& line) { reports.push_back(line); });
    arguments = std::string(kPrinter) + "/" + folderField(folder) + "/" + mode + "/" + offsets;
    form.Form_Load(arguments);
    reports.clear();
}

void StationRig::restart() { form.Form_Load(arguments); }

std::string StationRig::heldPath() const { return folder + "/" + HoldingArea::kFolderName; }

std::vector<std::string> StationRig::held() const {
    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(heldPath(), ec), end; !ec && it != end;
         it.increment(ec))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string StationRig::path(const std::string& name) const { return folder + "/" + name; }

std::string StationRig::drop(const std::string& name, int w, int h,
                             const std::vector<std::pair<QPoint, ColorValue>>& dots) {
    const std::string p = path(name);
    pictureWith(w, h, dots).save(QString::fromStdString(p), "BMP");
    return p;
}

bool StationRig::exists(const std::string& name) const {
    std::error_code ec;
    return std::filesystem::symlink_status(path(name), ec).type() !=
           std::filesystem::file_type::not_found;
}

std::vector<std::string> StationRig::takeReports() {
    std::vector<std::string> out;
    out.swap(reports);
    return out;
}

bool StationRig::reported(const std::string& fragment) const {
    for (const auto& r : reports) {
        if (r.find(fragment) != std::string::npos) return true;
    }
    return false;
}

std::vector<std::string> StationRig::listing() const {
    std::vector<std::string> names;
    for (int i = 0; i < form.File1->count(); ++i) {
        names.push_back(form.File1->item(i)->data(Qt::UserRole).toString().toStdString());
    }
    return names;
}

}  // namespace plx::test
