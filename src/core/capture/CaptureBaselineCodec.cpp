#include "core/capture/CaptureBaselineCodec.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>

namespace qb::CaptureBaselineCodec {

namespace {

void appendInt(std::string& out, int64_t value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

// Persistent IDs are plain ASCII; anything else goes through the general encoder, which
// escapes it and refuses invalid UTF-8.
void appendKey(std::string& out, const std::string& key) {
    const bool plain = std::all_of(key.begin(), key.end(), [](char c) {
        return c >= 0x20 && c < 0x7f && c != '"' && c != '\\';
    });
    if (plain) {
        out += '"';
        out += key;
        out += '"';
    } else {
        out += json::dump(Json(key));
    }
}

// SAX reader that accepts only what fromJson would accept with the same result, and gives
// up on everything else. Nesting: 1 = top object, 2 = snapshot, 3 = one entry.
class Reader {
  public:
    using number_integer_t = Json::number_integer_t;
    using number_unsigned_t = Json::number_unsigned_t;
    using number_float_t = Json::number_float_t;
    using string_t = Json::string_t;
    using binary_t = Json::binary_t;

    std::optional<CaptureBaseline> result() {
        if (!done_ || !schemaVersion_ || !hasSnapshot_) return std::nullopt;
        baseline_.schemaVersion = *schemaVersion_;
        return std::move(baseline_);
    }

    bool null() {
        if (skipValue()) return true;
        if (depth_ == 1 && field_ == Field::capturedAt) return true;
        if (depth_ == 3 && field_ == Field::lastPlayedAt) return true;
        return false; // required value is null
    }
    bool boolean(bool) { return skipValue(); }
    bool number_float(number_float_t, const string_t&) { return skipValue(); }
    bool string(string_t&) { return skipValue(); }
    bool binary(binary_t&) { return skipValue(); }
    bool number_unsigned(number_unsigned_t value) {
        if (skipValue()) return true;
        if (value > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return false;
        return integer(static_cast<int64_t>(value));
    }
    bool number_integer(number_integer_t value) {
        if (skipValue()) return true;
        return integer(value);
    }

    bool start_object(std::size_t) {
        if (skipping_ > 0) {
            ++skipping_;
            return true;
        }
        if (depth_ == 0) return ++depth_, true;
        if (depth_ == 1 && field_ == Field::skip) return ++skipping_, true;
        if (depth_ == 1 && field_ == Field::snapshot) {
            if (hasSnapshot_) return false;
            hasSnapshot_ = true;
            return ++depth_, true;
        }
        if (depth_ == 2) {
            entry_ = {};
            seenPlayCount_ = seenLastSeenAt_ = seenLastPlayedAt_ = false;
            return ++depth_, true;
        }
        if (depth_ == 3 && field_ == Field::skip) return ++skipping_, true;
        return false;
    }
    bool end_object() {
        if (skipping_ > 0) {
            --skipping_;
            return true;
        }
        if (depth_ == 3) {
            if (!seenPlayCount_ || !seenLastSeenAt_) return false;
            const std::size_t before = baseline_.snapshot.size();
            // Written in key order, so the end is the right place and insertion is cheap.
            baseline_.snapshot.emplace_hint(baseline_.snapshot.end(), std::move(id_), entry_);
            if (baseline_.snapshot.size() == before) return false; // repeated ID
        }
        if (--depth_ == 0) done_ = true;
        field_ = Field::skip;
        return true;
    }
    bool start_array(std::size_t) {
        if (skipping_ > 0 || ((depth_ == 1 || depth_ == 3) && field_ == Field::skip))
            return ++skipping_, true;
        return false;
    }
    bool end_array() { return --skipping_, true; }

    bool key(string_t& name) {
        if (skipping_ > 0) return true;
        if (depth_ == 2) {
            id_ = std::move(name);
            return true;
        }
        field_ = Field::skip;
        if (depth_ == 1) {
            if (name == "schemaVersion") return claim(Field::schemaVersion, seenSchema_);
            if (name == "capturedAt") return claim(Field::capturedAt, seenCapturedAt_);
            if (name == "snapshot") return claim(Field::snapshot, seenSnapshotKey_);
        } else if (depth_ == 3) {
            if (name == "playCount") return claim(Field::playCount, seenPlayCount_);
            if (name == "lastSeenAt") return claim(Field::lastSeenAt, seenLastSeenAt_);
            if (name == "lastPlayedAt") return claim(Field::lastPlayedAt, seenLastPlayedAt_);
        }
        return true;
    }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
        return false;
    }

  private:
    enum class Field {
        skip,
        schemaVersion,
        capturedAt,
        snapshot,
        playCount,
        lastSeenAt,
        lastPlayedAt
    };

    // A repeated key is left to the general decoder, which keeps the last value.
    bool claim(Field field, bool& seen) {
        if (seen) return false;
        seen = true;
        field_ = field;
        return true;
    }

    // A scalar value that nobody asked for, inside skipped content or under an unknown key.
    bool skipValue() const {
        return skipping_ > 0 || ((depth_ == 1 || depth_ == 3) && field_ == Field::skip);
    }

    bool integer(int64_t value) {
        switch (field_) {
        case Field::schemaVersion:
            if (depth_ != 1) return false;
            schemaVersion_ = value;
            return true;
        case Field::capturedAt:
            if (depth_ != 1) return false;
            baseline_.capturedAt = value;
            return true;
        case Field::playCount:
            entry_.playCount = value;
            return depth_ == 3;
        case Field::lastSeenAt:
            entry_.lastSeenAt = value;
            return depth_ == 3;
        case Field::lastPlayedAt:
            entry_.lastPlayedAt = value;
            return depth_ == 3;
        default:
            return false;
        }
    }

    CaptureBaseline baseline_;
    std::optional<int64_t> schemaVersion_;
    bool hasSnapshot_ = false;
    bool done_ = false;
    bool seenSchema_ = false, seenCapturedAt_ = false, seenSnapshotKey_ = false;
    bool seenPlayCount_ = false, seenLastSeenAt_ = false, seenLastPlayedAt_ = false;
    int depth_ = 0;
    int skipping_ = 0;
    Field field_ = Field::skip;
    std::string id_;
    SnapshotEntry entry_;
};

} // namespace

std::string encode(const CaptureBaseline& baseline) {
    std::string out;
    out.reserve(64 + baseline.snapshot.size() * 96);
    out += '{';
    if (baseline.capturedAt) {
        out += "\"capturedAt\":";
        appendInt(out, *baseline.capturedAt);
        out += ',';
    }
    out += "\"schemaVersion\":";
    appendInt(out, baseline.schemaVersion);
    out += ",\"snapshot\":{";
    bool first = true;
    for (const auto& [id, entry] : baseline.snapshot) {
        if (!first) out += ',';
        first = false;
        appendKey(out, id);
        out += ":{";
        if (entry.lastPlayedAt) {
            out += "\"lastPlayedAt\":";
            appendInt(out, *entry.lastPlayedAt);
            out += ',';
        }
        out += "\"lastSeenAt\":";
        appendInt(out, entry.lastSeenAt);
        out += ",\"playCount\":";
        appendInt(out, entry.playCount);
        out += '}';
    }
    out += "}}";
    return out;
}

std::optional<CaptureBaseline> tryDecode(std::string_view text) {
    Reader reader;
    if (!Json::sax_parse(text.begin(), text.end(), &reader)) return std::nullopt;
    return reader.result();
}

CaptureBaseline decode(std::string_view text) {
    if (auto fast = tryDecode(text)) return std::move(*fast);
    return CaptureBaseline::fromJson(json::parse(text));
}

} // namespace qb::CaptureBaselineCodec
