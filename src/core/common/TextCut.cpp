#include "core/common/TextCut.hpp"

#include <climits>
#include <memory>
#include <string_view>
#include <unicode/brkiter.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

namespace qb {

namespace {

// Counts code points; false when the text is not well-formed UTF-8.
bool countCodePoints(std::string_view text, size_t& codePoints) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const int64_t length = static_cast<int64_t>(text.size());
    int64_t i = 0;
    codePoints = 0;
    while (i < length) {
        if (bytes[i] < 0x80) {
            ++i;
        } else {
            UChar32 c;
            U8_NEXT(bytes, i, length, c);
            if (c < 0) return false;
        }
        ++codePoints;
    }
    return true;
}

std::string repaired(std::string_view text, size_t& codePoints) {
    static constexpr char replacement[] = "\xEF\xBF\xBD";
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const int64_t length = static_cast<int64_t>(text.size());
    std::string out;
    out.reserve(text.size() + 8);
    codePoints = 0;
    int64_t i = 0;
    while (i < length) {
        const int64_t start = i;
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        if (c < 0)
            out.append(replacement, 3);
        else
            out.append(text.data() + start, static_cast<size_t>(i - start));
        ++codePoints;
    }
    return out;
}

icu::BreakIterator* characterBreaks() {
    // Building the iterator loads rule data; one per thread is reused for every cut.
    thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> made(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status)) made.reset();
        return made;
    }();
    return iterator.get();
}

// Byte length of the first `count` code points of well-formed UTF-8.
size_t codePointPrefix(std::string_view text, size_t count) {
    size_t i = 0;
    for (size_t n = 0; n < count && i < text.size(); ++n) {
        ++i;
        while (i < text.size() && (static_cast<uint8_t>(text[i]) & 0xC0) == 0x80)
            ++i;
    }
    return i;
}

size_t graphemePrefix(std::string_view text, size_t count) {
    icu::BreakIterator* breaks = characterBreaks();
    // Cluster offsets are 32-bit; a longer text is cut by code points, which never happens
    // with library texts.
    if (breaks == nullptr || text.size() > static_cast<size_t>(INT32_MAX))
        return codePointPrefix(text, count);
    UErrorCode status = U_ZERO_ERROR;
    UText* utext = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
    if (U_FAILURE(status)) return codePointPrefix(text, count);
    breaks->setText(utext, status);
    size_t end = text.size();
    if (U_SUCCESS(status)) {
        breaks->first();
        for (size_t n = 0; n < count; ++n) {
            const int32_t next = breaks->next();
            if (next == icu::BreakIterator::DONE) break;
            end = static_cast<size_t>(next);
        }
    } else {
        end = codePointPrefix(text, count);
    }
    // Detach the iterator from the text before the text goes away.
    UErrorCode ignored = U_ZERO_ERROR;
    UText* empty = utext_openUTF8(nullptr, "", 0, &ignored);
    if (U_SUCCESS(ignored)) breaks->setText(empty, ignored);
    utext_close(utext);
    utext_close(empty);
    return end;
}

} // namespace

std::string firstCharacters(std::string text, size_t count) {
    size_t codePoints = 0;
    if (!countCodePoints(text, codePoints)) text = repaired(text, codePoints);
    // Every character holds at least one code point.
    if (codePoints <= count) return text;
    text.resize(graphemePrefix(text, count));
    return text;
}

} // namespace qb
