#pragma once

#include "platform/system_calls.hpp"

#include <semaphore>
#include <string_view>

namespace vellico::test {

// Removals inside a library block until released, so that a deletion can be
// held half-way; the lock files' own unlinks go through. Each blocked
// removal first releases `entered` once; `gate.release()` lets them all on.
class GatedRemovals final : public platform::SystemCalls {
public:
    int unlinkat(int dirFd, const char* name, int flags) override
    {
        const std::string_view entry(name);
        if (entry != "__Sync__" && entry != "Vellico 1") {
            entered.release();
            gate.acquire();
            gate.release();
        }
        return platform::SystemCalls::unlinkat(dirFd, name, flags);
    }
    std::counting_semaphore<1024> entered{0};
    std::binary_semaphore gate{0};
};

} // namespace vellico::test
