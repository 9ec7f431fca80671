#pragma once

#include "app/Alerting.hpp"

namespace qb::app {

// Alerts as modal message boxes. Without a display nobody can answer one, so there the alert
// goes to standard error and counts as dismissed (the last button).
class QtDialogs : public Alerting {
  public:
    size_t show(const Alert& alert) override;
    // Whether the Qt platform can show a window a person sees.
    static bool canShowWindows();
};

} // namespace qb::app
