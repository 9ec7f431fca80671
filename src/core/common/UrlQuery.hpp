#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qb::urlquery {

// One item of a URL query. An item written without '=' has no value, which is not the same
// as an empty value ("name=").
struct QueryItem {
    std::string name;
    std::optional<std::string> value;

    bool operator==(const QueryItem&) const = default;
};

// Percent-encodes every byte except the unreserved characters (letters, digits, "-._~"),
// so any text survives as a query name or value and decodes to the same bytes.
std::string percentEncode(std::string_view text);

// Decodes %XX escapes ('+' stays '+'). Absent when an escape is malformed or the result is
// not valid UTF-8.
std::optional<std::string> percentDecode(std::string_view text);

// "name=value&..." from the items in order, names and values percent-encoded.
std::string buildQuery(const std::vector<std::pair<std::string, std::string>>& items);

// Parses a query (the text after '?', without the fragment): items split on '&', the first
// '=' separates name and value, both percent-decoded, order kept. An empty query has no
// items. Absent when any part fails to decode.
std::optional<std::vector<QueryItem>> parseQuery(std::string_view query);

// The first item with this name, or null.
const QueryItem* firstItem(const std::vector<QueryItem>& items, std::string_view name);

} // namespace qb::urlquery
