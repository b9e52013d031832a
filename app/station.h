#pragma once

namespace plx {

// Starts the station from the process arguments; returns the exit status.
int runStation(int argc, char** argv);

}  // namespace plx
