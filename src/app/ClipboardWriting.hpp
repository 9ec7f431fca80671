#pragma once

#include <string>

namespace qb::app {

// Replaces the clipboard's content with plain text.
class ClipboardWriting {
  public:
    virtual ~ClipboardWriting() = default;
    virtual void setText(const std::string& text) = 0;
};

} // namespace qb::app
