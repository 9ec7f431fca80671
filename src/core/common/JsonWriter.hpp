#pragma once

// Writes compact JSON text straight into a string, for state files too large to build as a DOM
// first. The caller writes object keys in the order it wants them on disk. Texts are escaped as
// JsonFields' dump does; invalid UTF-8 throws DecodeError instead of being written.

#include <cstdint>
#include <string>
#include <string_view>

namespace qb {

class JsonWriter {
  public:
    void beginObject();
    void endObject();
    void beginArray();
    void endArray();
    void key(std::string_view name);
    void value(std::string_view text);
    void value(const char* text) { value(std::string_view(text)); }
    void value(int64_t number);
    void value(bool flag);

    template <typename T> void member(std::string_view name, const T& v) {
        key(name);
        value(v);
    }

    const std::string& text() const { return out_; }
    // Drops the text written so far but not the position in the document, so a large document
    // can be written out in pieces.
    void clear() { out_.clear(); }
    void reserve(size_t bytes) { out_.reserve(bytes); }
    std::string take() { return std::move(out_); }

  private:
    void separate();
    void appendQuoted(std::string_view text);

    std::string out_;
    bool needComma_ = false;
};

} // namespace qb
