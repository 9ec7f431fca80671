#include "core/common/JsonWriter.hpp"

#include "core/common/JsonFields.hpp"

#include <charconv>
#include <cstdio>

namespace qb {

namespace {

// Length of the well-formed UTF-8 sequence at text[i], or 0 (no overlongs, surrogates or
// code points above U+10FFFF).
size_t sequenceLength(std::string_view text, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    size_t length;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    if (byte(i + 1) < low || byte(i + 1) > high) return 0;
    for (size_t k = 2; k < length; ++k)
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    return length;
}

} // namespace

void JsonWriter::separate() {
    if (needComma_) out_ += ',';
}

void JsonWriter::beginObject() {
    separate();
    out_ += '{';
    needComma_ = false;
}

void JsonWriter::endObject() {
    out_ += '}';
    needComma_ = true;
}

void JsonWriter::beginArray() {
    separate();
    out_ += '[';
    needComma_ = false;
}

void JsonWriter::endArray() {
    out_ += ']';
    needComma_ = true;
}

void JsonWriter::key(std::string_view name) {
    separate();
    appendQuoted(name);
    out_ += ':';
    needComma_ = false;
}

void JsonWriter::value(std::string_view text) {
    separate();
    appendQuoted(text);
    needComma_ = true;
}

void JsonWriter::value(int64_t number) {
    separate();
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
    out_.append(digits, end);
    needComma_ = true;
}

void JsonWriter::value(bool flag) {
    separate();
    out_ += flag ? "true" : "false";
    needComma_ = true;
}

void JsonWriter::appendQuoted(std::string_view text) {
    out_ += '"';
    size_t plainStart = 0;
    const auto flushPlain = [&](size_t end) { out_.append(text, plainStart, end - plainStart); };
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            size_t length = sequenceLength(text, i);
            if (length == 0) {
                char detail[64];
                std::snprintf(detail, sizeof detail, "invalid UTF-8 byte at index %zu: 0x%02X", i,
                              static_cast<unsigned>(c));
                throw DecodeError(std::string("cannot encode JSON: ") + detail);
            }
            i += length;
            continue;
        }
        if (c >= 0x20 && c != '"' && c != '\\') {
            ++i;
            continue;
        }
        flushPlain(i);
        switch (c) {
        case '"':
            out_ += "\\\"";
            break;
        case '\\':
            out_ += "\\\\";
            break;
        case '\b':
            out_ += "\\b";
            break;
        case '\f':
            out_ += "\\f";
            break;
        case '\n':
            out_ += "\\n";
            break;
        case '\r':
            out_ += "\\r";
            break;
        case '\t':
            out_ += "\\t";
            break;
        default: {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
            out_ += escape;
        }
        }
        plainStart = ++i;
    }
    flushPlain(text.size());
    out_ += '"';
}

} // namespace qb
