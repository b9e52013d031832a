#pragma once
// Where the station keeps what it shows of itself without the window: the job history in its
// state folder, the state snapshot in its runtime folder, one of each per watch folder and
// named after it, so that the operator's commands find them from the folder alone.

#include <string>
#include <vector>

#include "common/result.h"

namespace plx {

// The watch folder as an absolute, normalised path (symbolic links resolved as far as it
// exists), so that the station and the commands name one folder the same way.
std::string absoluteFolder(const std::string& folder);

// A file-name stem for a watch folder: readable (the safe characters of the path's end) and
// unique (a hash of the whole path): "/srv/labels" -> "srv-labels-1c2e3a4b".
std::string folderKey(const std::string& absoluteFolderPath);

// $STATE_DIRECTORY (systemd's StateDirectory=), else $XDG_STATE_HOME/plixagram, else
// ~/.local/state/plixagram.
std::string stateFolder();
// $RUNTIME_DIRECTORY (systemd's RuntimeDirectory=), else $XDG_RUNTIME_DIR/plixagram, else
// /tmp/plixagram-UID.
std::string runtimeFolder();

// Creates the folder (mode 0700, parents as needed) when it is missing. One that exists must be
// a real folder; /tmp/plixagram-UID, where anyone may have made it first, also ours and closed
// to others.
Result<void> ensureFolder(const std::string& folder);

// Where the operator's commands look: the service's folders, each instance's folder below
// them, and the user's own.
struct LookPlaces {
    std::vector<std::string> state;
    std::vector<std::string> runtime;
};
LookPlaces defaultLookPlaces();

// The files in `folders` whose names end in `suffix`, each folder's own and those of its
// sub-folders one level down, sorted, each once.
std::vector<std::string> findFiles(const std::vector<std::string>& folders,
                                   const std::string& suffix);

}  // namespace plx
