#include "core/common/UrlQuery.hpp"

#include <cstdint>

namespace qb::urlquery {

namespace {

bool isUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Well-formed UTF-8 only: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        auto c = static_cast<unsigned char>(s[i]);
        size_t length;
        uint32_t min;
        uint32_t cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            length = 2, min = 0x80, cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            length = 3, min = 0x800, cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            length = 4, min = 0x10000, cp = c & 0x07;
        } else {
            return false;
        }
        if (s.size() - i < length) return false;
        for (size_t k = 1; k < length; ++k) {
            auto next = static_cast<unsigned char>(s[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (next & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += length;
    }
    return true;
}

} // namespace

std::string percentEncode(std::string_view text) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (isUnreserved(c)) {
            out.push_back(ch);
        } else {
            out.push_back('%');
            out.push_back(digits[c >> 4]);
            out.push_back(digits[c & 0x0F]);
        }
    }
    return out;
}

std::optional<std::string> percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (text.size() - i < 3) return std::nullopt;
        int high = hexValue(text[i + 1]);
        int low = hexValue(text[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        out.push_back(static_cast<char>((high << 4) | low));
        i += 2;
    }
    if (!isValidUtf8(out)) return std::nullopt;
    return out;
}

std::string buildQuery(const std::vector<std::pair<std::string, std::string>>& items) {
    std::string out;
    for (const auto& [name, value] : items) {
        if (!out.empty()) out.push_back('&');
        out += percentEncode(name);
        out.push_back('=');
        out += percentEncode(value);
    }
    return out;
}

std::optional<std::vector<QueryItem>> parseQuery(std::string_view query) {
    std::vector<QueryItem> items;
    if (query.empty()) return items;
    size_t start = 0;
    while (true) {
        size_t end = query.find('&', start);
        std::string_view part = query.substr(
            start, end == std::string_view::npos ? std::string_view::npos : end - start);
        QueryItem item;
        size_t equals = part.find('=');
        auto name = percentDecode(part.substr(0, equals));
        if (!name) return std::nullopt;
        item.name = std::move(*name);
        if (equals != std::string_view::npos) {
            auto value = percentDecode(part.substr(equals + 1));
            if (!value) return std::nullopt;
            item.value = std::move(*value);
        }
        items.push_back(std::move(item));
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    return items;
}

const QueryItem* firstItem(const std::vector<QueryItem>& items, std::string_view name) {
    for (const auto& item : items)
        if (item.name == name) return &item;
    return nullptr;
}

} // namespace qb::urlquery
