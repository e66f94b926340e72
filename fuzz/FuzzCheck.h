#pragma once

#include <cstdio>
#include <cstdlib>

namespace v38::fuzz {

// A broken invariant: say which, then abort so that libFuzzer keeps the input.
inline void check(bool condition, const char* invariant) {
    if (condition)
        return;
    std::fprintf(stderr, "invariant broken: %s\n", invariant);
    std::abort();
}

} // namespace v38::fuzz
