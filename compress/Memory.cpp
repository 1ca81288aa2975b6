#include "Memory.h"

namespace {

class THeapMemory : public TMemorySource {
public:
    void* Allocate(size_t Bytes, size_t Align) noexcept override
    {
        if (Align <= __STDCPP_DEFAULT_NEW_ALIGNMENT__)
            return ::operator new(Bytes, std::nothrow);
        return ::operator new(Bytes, std::align_val_t(Align), std::nothrow);
    }
    void Free(void* Block, size_t, size_t Align) noexcept override
    {
        if (Align <= __STDCPP_DEFAULT_NEW_ALIGNMENT__)
            ::operator delete(Block);
        else
            ::operator delete(Block, std::align_val_t(Align));
    }
};

}  // namespace

TMemorySource& HeapMemory()
{
    static THeapMemory Heap;
    return Heap;
}
