#include "app/RunModes.hpp"

int main(int argc, char** argv) {
    return qb::app::runFromCommandLine(argc, argv);
}
