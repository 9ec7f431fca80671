#include "core/common/TextFolding.hpp"

#include <algorithm>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

// Folding pipeline, applied to the whole text:
//   1. width: every code point whose decomposition type is <wide> or <narrow> is replaced by
//      its compatibility mapping (full-width Latin to ASCII, half-width katakana to the usual
//      form, ideographic space to space). Restricting NFKD to these two types keeps the other
//      compatibility mappings (ligatures, superscripts, fractions) distinct, which plain NFKC
//      would merge. Done first so that a half-width voiced sound mark becomes a combining
//      mark that the diacritic step then removes, exactly as for the precomposed kana.
//   2. case: Unicode full case folding without locale (no Turkic dotless-i rule), so
//      "ß" and "ẞ" fold to "ss", final sigma to sigma.
//   3. diacritics: NFD, then every non-spacing mark (Mn) is dropped.
//   4. NFC, so that scripts that decompose without marks (Hangul) come back composed.
// Then white space and line ends are trimmed. Invalid UTF-8 becomes U+FFFD.
//
// The ICU normalizers are process-wide immutable singletons, documented as safe to share
// between threads, so they are looked up once; only scratch strings are per call.

namespace qb {

namespace {

struct Normalizers {
    const icu::Normalizer2* nfd = nullptr;
    const icu::Normalizer2* nfc = nullptr;
    const icu::Normalizer2* nfkd = nullptr;
};

const Normalizers& normalizers() {
    static const Normalizers instance = [] {
        Normalizers n;
        UErrorCode status = U_ZERO_ERROR;
        n.nfd = icu::Normalizer2::getNFDInstance(status);
        if (U_FAILURE(status)) n.nfd = nullptr;
        status = U_ZERO_ERROR;
        n.nfc = icu::Normalizer2::getNFCInstance(status);
        if (U_FAILURE(status)) n.nfc = nullptr;
        status = U_ZERO_ERROR;
        n.nfkd = icu::Normalizer2::getNFKDInstance(status);
        if (U_FAILURE(status)) n.nfkd = nullptr;
        return n;
    }();
    return instance;
}

bool isAsciiWhitespace(unsigned char c) {
    return c == ' ' || (c >= 0x09 && c <= 0x0D);
}

bool isAscii(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Most titles and artists are ASCII: lower-casing is their whole folding.
std::string foldAscii(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && isAsciiWhitespace(static_cast<unsigned char>(text[begin])))
        ++begin;
    while (end > begin && isAsciiWhitespace(static_cast<unsigned char>(text[end - 1])))
        --end;
    std::string out(text, begin, end - begin);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

icu::UnicodeString foldWidth(const icu::UnicodeString& text, const icu::Normalizer2* nfkd) {
    icu::UnicodeString out;
    icu::UnicodeString mapping;
    for (int32_t i = 0; i < text.length();) {
        UChar32 c = text.char32At(i);
        i += U16_LENGTH(c);
        int32_t type = u_getIntPropertyValue(c, UCHAR_DECOMPOSITION_TYPE);
        if (nfkd && (type == U_DT_WIDE || type == U_DT_NARROW) &&
            nfkd->getRawDecomposition(c, mapping)) {
            out.append(mapping);
        } else {
            out.append(c);
        }
    }
    return out;
}

icu::UnicodeString removeNonspacingMarks(const icu::UnicodeString& text) {
    icu::UnicodeString out;
    for (int32_t i = 0; i < text.length();) {
        UChar32 c = text.char32At(i);
        i += U16_LENGTH(c);
        if (u_charType(c) != U_NON_SPACING_MARK) out.append(c);
    }
    return out;
}

icu::UnicodeString normalize(const icu::Normalizer2* normalizer, const icu::UnicodeString& text) {
    if (!normalizer) return text;
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString out = normalizer->normalize(text, status);
    return U_FAILURE(status) ? text : out;
}

// The code point starting at pos, or -1 when the bytes there are not well-formed UTF-8.
UChar32 decodeAt(const std::string& text, size_t pos, size_t& length) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data() + pos);
    int32_t available = static_cast<int32_t>(std::min<size_t>(4, text.size() - pos));
    int32_t i = 0;
    UChar32 c = 0;
    U8_NEXT(bytes, i, available, c);
    length = static_cast<size_t>(i);
    return c;
}

// The code point ending at end, or -1 when the bytes before end do not form one.
UChar32 decodeBefore(const std::string& text, size_t end, size_t& length) {
    for (size_t k = 1; k <= 4 && k <= end; ++k) {
        if (U8_IS_TRAIL(static_cast<uint8_t>(text[end - k]))) continue;
        size_t consumed = 0;
        UChar32 c = decodeAt(text, end - k, consumed);
        length = k;
        return consumed == k ? c : -1;
    }
    return -1;
}

bool isTrimmable(UChar32 c) {
    return c >= 0 && u_isUWhiteSpace(c);
}

} // namespace

std::string trimWhitespaceAndNewlines(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    size_t length = 0;
    while (begin < end && isTrimmable(decodeAt(text, begin, length)))
        begin += length;
    while (end > begin && isTrimmable(decodeBefore(text, end, length)))
        end -= length;
    return text.substr(begin, end - begin);
}

std::string foldForMatching(const std::string& text) {
    if (isAscii(text)) return foldAscii(text);
    const Normalizers& n = normalizers();
    icu::UnicodeString s = foldWidth(icu::UnicodeString::fromUTF8(text), n.nfkd);
    s.foldCase(U_FOLD_CASE_DEFAULT);
    s = normalize(n.nfc, removeNonspacingMarks(normalize(n.nfd, s)));
    std::string out;
    s.toUTF8String(out);
    return trimWhitespaceAndNewlines(out);
}

} // namespace qb
