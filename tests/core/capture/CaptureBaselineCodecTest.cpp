#include "core/capture/CaptureBaselineCodec.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <random>

using namespace qb;

namespace {

// The general decoder's verdict: the baseline, or nullopt when it refuses the text.
std::optional<CaptureBaseline> generalDecode(const std::string& text) {
    try {
        return CaptureBaseline::fromJson(json::parse(text));
    } catch (const DecodeError&) {
        return std::nullopt;
    }
}

std::optional<CaptureBaseline> codecDecode(const std::string& text) {
    try {
        return CaptureBaselineCodec::decode(text);
    } catch (const DecodeError&) {
        return std::nullopt;
    }
}

CaptureBaseline sample() {
    CaptureBaseline b;
    b.capturedAt = -5;
    b.snapshot["000000000000002A"] = {std::numeric_limits<int64_t>::max(), 0, 1};
    b.snapshot["FFFFFFFFFFFFFFFF"] = {std::numeric_limits<int64_t>::min(), std::nullopt, -1};
    b.snapshot["odd \"key\"\\\n\x01 é"] = {3, -7, 8};
    b.snapshot[""] = {0, std::nullopt, 0};
    return b;
}

} // namespace

TEST(CaptureBaselineCodec, EncodesExactlyAsTheGeneralEncoder) {
    CaptureBaseline empty;
    EXPECT_EQ(CaptureBaselineCodec::encode(empty), json::dump(empty.toJson()));
    const CaptureBaseline b = sample();
    EXPECT_EQ(CaptureBaselineCodec::encode(b), json::dump(b.toJson()));

    CaptureBaseline bad;
    bad.snapshot["\xff"] = {};
    EXPECT_THROW(CaptureBaselineCodec::encode(bad), DecodeError);
}

TEST(CaptureBaselineCodec, ReadsItsOwnOutputWithoutTheGeneralDecoder) {
    const CaptureBaseline b = sample();
    EXPECT_EQ(CaptureBaselineCodec::tryDecode(CaptureBaselineCodec::encode(b)), b);
    EXPECT_EQ(CaptureBaselineCodec::decode(CaptureBaselineCodec::encode(b)), b);
}

TEST(CaptureBaselineCodec, AgreesWithTheGeneralDecoderOnOddAndBrokenText) {
    const std::vector<std::string> texts = {
        R"( {"snapshot" : {"B":{"lastSeenAt":1,"playCount":2},"A":{"playCount":3,"lastSeenAt":4}}, "schemaVersion":7 } )",
        R"({"schemaVersion":1,"capturedAt":null,"snapshot":{"A":{"playCount":1,"lastSeenAt":2,"lastPlayedAt":null}}})",
        R"({"x":[1,[2,{"snapshot":5}],{"a":null}],"schemaVersion":1,"snapshot":{"A":{"y":{"playCount":"z"},"playCount":1,"lastSeenAt":2,"z":[]}},"w":true})",
        R"({"schemaVersion":"1","schemaVersion":1,"snapshot":{}})",
        R"({"schemaVersion":1,"snapshot":5,"snapshot":{}})",
        R"({"schemaVersion":1,"snapshot":{},"snapshot":5})",
        R"({"schemaVersion":1,"snapshot":{"A":{"playCount":1,"lastSeenAt":2},"A":{"playCount":9,"lastSeenAt":9}}})",
        R"({"schemaVersion":1,"snapshot":{"A":5,"A":{"playCount":9,"lastSeenAt":9}}})",
        R"({"schemaVersion":1,"snapshot":{"A":{"playCount":"1","playCount":1,"lastSeenAt":2}}})",
        R"({"schemaVersion":1,"snapshot":{"A":{"playCount":1,"lastSeenAt":2}}} x)",
        R"({"schemaVersion":1,"snapshot":{"A":{"playCount":1}}})",
        R"({"schemaVersion":1,"snapshot":{"A":{"playCount":1,"lastSeenAt":null}}})",
        R"({"schemaVersion":1,"snapshot":{"A":{"playCount":1,"lastSeenAt":2.0}}})",
        R"({"schemaVersion":1,"snapshot":{"A":{"playCount":9223372036854775807,"lastSeenAt":-9223372036854775808}}})",
        R"({"schemaVersion":1,"snapshot":{"A":{"playCount":9223372036854775808,"lastSeenAt":2}}})",
        R"({"schemaVersion":1,"snapshot":{"A":{"playCount":-9223372036854775809,"lastSeenAt":2}}})",
        R"({"schemaVersion":1,"snapshot":{"A":[1,2]}})",
        R"({"schemaVersion":1,"snapshot":{"A":null}})",
        R"({"schemaVersion":1,"snapshot":null})",
        R"({"schemaVersion":null,"snapshot":{}})",
        R"({"schemaVersion":1,"capturedAt":"5","snapshot":{}})",
        R"({"schemaVersion":1,"capturedAt":true,"snapshot":{}})",
        R"({"schemaVersion":1})",
        R"({"snapshot":{}})",
        R"([{"schemaVersion":1,"snapshot":{}}])",
        R"("text")",
        "null",
        "",
        "{\"schemaVersion\":1,\"snapshot\":{\"\xc3\x28\":{\"playCount\":1,\"lastSeenAt\":2}}}",
    };
    for (const auto& text : texts)
        EXPECT_EQ(codecDecode(text), generalDecode(text)) << text;
}

TEST(CaptureBaselineCodec, AgreesWithTheGeneralDecoderOnDamagedFiles) {
    const std::string original = CaptureBaselineCodec::encode(sample());
    const std::string alphabet = "{}[]:,\"0123456789-.eEnultrsfa \\\x01\xc3\xff";
    std::mt19937 random(7);
    for (int round = 0; round < 3000; ++round) {
        std::string text = original;
        const int edits = 1 + static_cast<int>(random() % 3);
        for (int e = 0; e < edits; ++e) {
            const std::size_t at = random() % text.size();
            switch (random() % 3) {
            case 0:
                text[at] = alphabet[random() % alphabet.size()];
                break;
            case 1:
                text.erase(at, 1 + random() % 4);
                break;
            default:
                text.insert(at, 1, alphabet[random() % alphabet.size()]);
                break;
            }
            if (text.empty()) text = "{";
        }
        ASSERT_EQ(codecDecode(text), generalDecode(text)) << text;
    }
}
