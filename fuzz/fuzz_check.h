// What every fuzz target asserts with: a property that fails stops the run
// as a crash, in the libFuzzer build and in the replay alike.
#pragma once

inline void Check(bool holds)
{
    if (!holds)
        __builtin_trap();
}
