// The JSON library fixture.
#include "FuzzInput.hpp"
#include "platform/linux/library/JsonLibrarySource.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        auto source = qb::JsonLibrarySource::parse(qb::fuzz::text(data, size), "fuzz");
        if (source && source->reloadData()) (void)source->mediaItems();
    } catch (const std::exception&) {
    }
    return 0;
}
