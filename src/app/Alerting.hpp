#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace qb::app {

// A modal warning: a bold message, an informative text and its buttons, first one default.
struct Alert {
    std::string message;
    std::string informativeText;
    std::vector<std::string> buttons; // empty: one "OK"

    bool operator==(const Alert&) const = default;
};

class Alerting {
  public:
    virtual ~Alerting() = default;
    // Shows the alert with the application brought to the front and waits for an answer;
    // returns the index of the button pressed (any other way of closing it counts as the last).
    virtual size_t show(const Alert& alert) = 0;
};

} // namespace qb::app
