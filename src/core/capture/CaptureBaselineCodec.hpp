#pragma once

#include "core/capture/CaptureBaseline.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace qb {

// Fast text form of the baseline, which can hold 100,000 entries. Both functions agree
// exactly with json::dump(baseline.toJson()) and CaptureBaseline::fromJson(json::parse(text)).
namespace CaptureBaselineCodec {

// Compact, keys sorted. Throws DecodeError for text that is not valid UTF-8.
std::string encode(const CaptureBaseline& baseline);

// Reads a well-formed baseline without building a document; nullopt for anything
// unusual (an error, a repeated key), which the general decoder then reads or reports.
std::optional<CaptureBaseline> tryDecode(std::string_view text);

// tryDecode, falling back on the general decoder. Throws DecodeError.
CaptureBaseline decode(std::string_view text);

} // namespace CaptureBaselineCodec
} // namespace qb
