// An exported Library.xml and Rhythmbox's rhythmdb.xml: both streamed with expat.
#include "FuzzInput.hpp"
#include "platform/linux/library/PlistLibrarySource.hpp"
#include "platform/linux/library/RhythmboxLibrarySource.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const qb::fuzz::MemoryFile file(data, size);
    auto read = [](qb::LibrarySource&& source) {
        try {
            if (source.reloadData()) (void)source.mediaItems();
        } catch (const std::exception&) {
            // Refusing bad input with an error is the expected outcome.
        }
    };
    read(qb::PlistLibrarySource(file.path()));
    read(qb::RhythmboxLibrarySource(file.path()));
    return 0;
}
