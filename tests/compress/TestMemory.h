// A memory source for the engine's out-of-memory paths: it counts what is taken and given
// back, and refuses every request once its allowance is used up.
#pragma once

#include <cstdint>

#include "compress/Memory.h"

class TTestMemory : public TMemorySource {
public:
    // Takes that succeed from now on before every further one is refused; -1 for no end.
    void FailAfter(int Takes) { Allowance = Takes; }

    void* Allocate(size_t Bytes, size_t Align) noexcept override
    {
        if (Allowance == 0)
            return nullptr;
        if (Allowance > 0)
            --Allowance;
        ++Taken;
        Outstanding += int64_t(Bytes);
        return HeapMemory().Allocate(Bytes, Align);
    }
    void Free(void* Block, size_t Bytes, size_t Align) noexcept override
    {
        Outstanding -= int64_t(Bytes);
        HeapMemory().Free(Block, Bytes, Align);
    }

    int Taken = 0;            // successful takes
    int64_t Outstanding = 0;  // bytes taken and not yet given back

private:
    int Allowance = -1;
};
