// The player-info map, as the MPRIS bridge hands it over: any keys, any value types.
#include "core/player/MusicPlayerInfoParser.hpp"

#include <fuzzer/FuzzedDataProvider.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    static const char* const keys[] = {"Player State", "Name",        "Artist",
                                       "Album",        "Total Time",  "Library PersistentID",
                                       "Persistent ID", "Store URL"};
    qb::PlayerInfo info;
    while (input.remaining_bytes() > 0) {
        const std::string key = input.ConsumeBool()
                                    ? keys[input.ConsumeIntegralInRange<size_t>(0, 7)]
                                    : input.ConsumeRandomLengthString(16);
        switch (input.ConsumeIntegralInRange(0, 4)) {
        case 0:
            info[key] = input.ConsumeRandomLengthString(64);
            break;
        case 1:
            info[key] = input.ConsumeIntegral<int64_t>();
            break;
        case 2:
            info[key] = input.ConsumeFloatingPoint<double>();
            break;
        case 3:
            info[key] = input.ConsumeBool();
            break;
        default:
            info[key] = std::monostate{};
        }
    }
    (void)qb::MusicPlayerInfoParser::parse(info);
    return 0;
}
