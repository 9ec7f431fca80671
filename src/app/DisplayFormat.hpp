#pragma once

#include <QLocale>

#include <cstdint>
#include <optional>
#include <string>

// How the shell writes times and counts for people: in the user's locale.
namespace qb::app::DisplayFormat {

// "Never", or the local time of day in the locale's short time format, without a date.
std::string time(const std::optional<int64_t>& secondsSince1970, const QLocale& locale = QLocale());
// With the locale's digit grouping.
std::string count(int64_t value, const QLocale& locale = QLocale());

} // namespace qb::app::DisplayFormat
