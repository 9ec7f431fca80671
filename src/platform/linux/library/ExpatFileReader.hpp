#pragma once

#include <cstdint>
#include <expat.h>
#include <filesystem>
#include <string>

namespace qb {

// The part every expat reader of a library file shares: the parser, the guard against entity
// declarations, errors that carry their line and column, and the read loop.
//
// The file is read through the one descriptor opened first. The players replace their files
// by rename; a reader that kept that descriptor sees the version it opened, whole, however
// often the name is replaced meanwhile.
class ExpatFileReader {
  public:
    ExpatFileReader(const ExpatFileReader&) = delete;
    ExpatFileReader& operator=(const ExpatFileReader&) = delete;

    // Parses the whole file. Returns what went wrong, or the empty string when the document
    // was read to its end.
    std::string parseFile(const std::filesystem::path& path);

  protected:
    // The handlers' user data is this base object; `self` gets the reader back from it.
    ExpatFileReader();
    virtual ~ExpatFileReader();

    template <typename Reader> static Reader& self(void* userData) {
        return static_cast<Reader&>(*static_cast<ExpatFileReader*>(userData));
    }

    XML_Parser parser() const { return parser_; }
    bool failed() const { return !error_.empty(); }
    // Stops the parse; the first message wins and gets the current line and column.
    void fail(const std::string& message);
    // Called with the file's size before it is read, for reservations.
    virtual void sized(uint64_t) {}

  private:
    XML_Parser parser_;
    std::string error_;
};

} // namespace qb
