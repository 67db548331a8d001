#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace vellico::model {

// A 128-bit UUID in the byte order of its text form.
struct Uuid {
    std::array<std::uint8_t, 16> bytes{};

    // A fresh random (version 4) UUID, from the kernel's entropy: for what
    // is written to disk.
    static Uuid random();

    // A random (version 4) UUID from a generator seeded once per thread from
    // the kernel's entropy: enough to tell records apart within a run, and
    // without the six system calls random() makes each time (an analysis
    // makes one per folder found). Not for what is written to disk.
    static Uuid quick();

    // Upper-case text form, e.g. "C60CA724-BC9C-47B9-BF22-97CBCA30D396".
    std::string toString() const;

    bool operator==(const Uuid&) const = default;
};

} // namespace vellico::model
