#include "core/capture/CaptureWorkerResult.hpp"
#include "core/capture/PendingPayload.hpp"
#include "core/common/JsonFields.hpp"
#include "core/common/StableIdentifier.hpp"

#include <gtest/gtest.h>

using namespace qb;

TEST(StableIdentifier, HashesJoinedPartsWithFnv1a) {
    EXPECT_EQ(stableIdentifier({}), "qz_cbf29ce484222325");
    EXPECT_EQ(stableIdentifier({""}), "qz_cbf29ce484222325");
    EXPECT_EQ(stableIdentifier({"a", "b"}), stableIdentifier({"a|b"}));
    EXPECT_NE(stableIdentifier({"a", "b"}), stableIdentifier({"ab"}));
    EXPECT_EQ(stableIdentifier({"a"}), "qz_af63dc4c8601ec8c");
    EXPECT_EQ(formatPersistentID(42), "000000000000002A");
    EXPECT_EQ(formatPersistentID(UINT64_MAX), "FFFFFFFFFFFFFFFF");
}

TEST(JsonParse, RefusesTextWithANulByte) {
    const std::string text("{\"ok\":true}\0junk", 16);
    EXPECT_THROW(qb::json::parse(text), qb::DecodeError);
    EXPECT_TRUE(qb::json::parse("{\"ok\":true}")["ok"].get<bool>());
}
