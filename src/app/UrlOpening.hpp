#pragma once

#include <string>

namespace qb::app {

// Opens a web page in the user's default browser.
class UrlOpening {
  public:
    virtual ~UrlOpening() = default;
    virtual bool open(const std::string& url) = 0;
};

} // namespace qb::app
