#include "app/DisplayFormat.hpp"

#include <QDateTime>

namespace qb::app::DisplayFormat {

std::string time(const std::optional<int64_t>& secondsSince1970, const QLocale& locale) {
    if (!secondsSince1970) return "Never";
    const QDateTime local = QDateTime::fromSecsSinceEpoch(*secondsSince1970).toLocalTime();
    return locale.toString(local.time(), QLocale::ShortFormat).toStdString();
}

std::string count(int64_t value, const QLocale& locale) {
    return locale.toString(static_cast<qlonglong>(value)).toStdString();
}

} // namespace qb::app::DisplayFormat
