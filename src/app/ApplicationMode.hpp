#pragma once

namespace qb::app {

// The menu-bar application: one copy per user, the Qt event loop as the main thread.
// A second start hands its "quillabrenta-capture:" URLs to the running copy and exits.
int runApplication(int argc, char** argv);

} // namespace qb::app
