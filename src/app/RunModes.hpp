#pragma once

namespace qb::app {

// Chooses the run mode from the command line and runs it; returns the process exit status.
int runFromCommandLine(int argc, char** argv);

} // namespace qb::app
