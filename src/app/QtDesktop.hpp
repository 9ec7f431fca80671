#pragma once

#include "app/ClipboardWriting.hpp"
#include "app/UrlOpening.hpp"

namespace qb::app {

// The desktop's browser (xdg-open behind QDesktopServices) and clipboard.
class QtDesktop : public UrlOpening, public ClipboardWriting {
  public:
    bool open(const std::string& url) override;
    void setText(const std::string& text) override;
};

} // namespace qb::app
