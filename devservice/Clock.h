#pragma once

#include <chrono>
#include <cstdint>

namespace quillpost::devservice {

// Wall-clock milliseconds since the Unix epoch: the base of every stored time.
inline std::int64_t nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

} // namespace quillpost::devservice
