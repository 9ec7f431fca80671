#include "app/HeadlessSurface.hpp"

#include <cstdio>

namespace qb::app {

HeadlessSurface::HeadlessSurface() {
    std::fputs("Quillabrenta for Mac: this desktop has no system tray, so there is no status "
               "item; listening capture runs all the same.\n",
               stderr);
}

} // namespace qb::app
