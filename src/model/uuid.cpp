#include "model/uuid.hpp"

#include <uuid/uuid.h>

#include <cstring>
#include <random>

namespace vellico::model {

Uuid Uuid::random()
{
    Uuid id;
    uuid_generate_random(id.bytes.data());
    return id;
}

Uuid Uuid::quick()
{
    thread_local std::mt19937_64 engine = [] {
        std::random_device entropy; // getrandom(2)
        std::seed_seq seed{entropy(), entropy(), entropy(), entropy()};
        return std::mt19937_64(seed);
    }();
    const std::uint64_t halves[2] = {engine(), engine()};
    Uuid id;
    std::memcpy(id.bytes.data(), halves, sizeof halves);
    id.bytes[6] = static_cast<std::uint8_t>((id.bytes[6] & 0x0F) | 0x40); // version 4
    id.bytes[8] = static_cast<std::uint8_t>((id.bytes[8] & 0x3F) | 0x80); // RFC 4122 variant
    return id;
}

std::string Uuid::toString() const
{
    char text[37];
    uuid_unparse_upper(bytes.data(), text);
    return text;
}

} // namespace vellico::model
