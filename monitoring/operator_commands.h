#pragma once
// The operator's commands, read-only and safe while the station or its service runs:
//   plixagram status [--folder DIR] [--json]
//   plixagram history [--folder DIR] [--since WHEN] [--file NAME] [--csv | --json]
// Exit status as a Unix tool's: 0 done, 1 nothing found (status: no station running),
// 2 a usage error; errors go to standard error.

#include <QStringList>
#include <ostream>

#include "monitoring/state_places.h"

namespace plx {

// `arguments` are those after the command's name; `places` where to look.
int runStatusCommand(const QStringList& arguments, const LookPlaces& places, std::ostream& out,
                     std::ostream& err);
int runHistoryCommand(const QStringList& arguments, const LookPlaces& places, std::ostream& out,
                      std::ostream& err);

// The watch folder a --folder argument names: a path, or the station's own field form with
// backslashes standing for "/" ("\srv\labels").
std::string folderArgument(const QString& argument);

}  // namespace plx
