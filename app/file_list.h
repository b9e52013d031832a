#pragma once
// The window's list of job files: each file's name, its state and a short reason, the whole
// reason in its tooltip. Brought up to date in place (rows added, removed, re-marked), so
// that a tick that changed nothing leaves the list, its selection and its scrolling alone.

#include <QListWidget>
#include <QString>
#include <vector>

#include "app/station_monitor.h"

namespace plx {

// Sets the list up for rows that fit its width: a row longer than the list is cut with an
// ellipsis (its tooltip has it all) rather than scrolled sideways.
void fitRowsToWidth(QListWidget& list);

// "waiting", "held at the printer", ... in the window's language.
QString stateWord(FileState state);

// Makes `list` show `rows`, in that order, touching only the items that differ. An item's
// Qt::UserRole is the file's name.
void showFileRows(QListWidget& list, const std::vector<FileRow>& rows);

}  // namespace plx
