#include "model/uuid.hpp"

#include <uuid/uuid.h>

namespace vellico::model {

Uuid Uuid::random()
{
    Uuid id;
    uuid_generate_random(id.bytes.data());
    return id;
}

std::string Uuid::toString() const
{
    char text[37];
    uuid_unparse_upper(bytes.data(), text);
    return text;
}

} // namespace vellico::model
