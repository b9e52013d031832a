#pragma once

namespace plx {

// `plixagram --holder ARGUMENTS`: says which station, if any, holds the watch folder of the
// argument string, without taking it. Exit status 0: no station holds it; 1: one does, or it
// cannot be told (the held folder belongs to another user); 2: the argument string is not
// one. -1 when the arguments are not this command.
int folderHolderCommand(int argc, char** argv);

}  // namespace plx
