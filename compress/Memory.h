// Where the codecs take their tables and buffers from: the heap, unless the caller passes a
// source of its own (to count or cap what the codecs take, or to place it elsewhere).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>

class TMemorySource {
public:
    virtual ~TMemorySource() = default;
    // Bytes aligned to Align (a power of two), or nullptr when there is no memory to give.
    // Called only on the threads that call the codecs, one call at a time per codec object.
    virtual void* Allocate(size_t Bytes, size_t Align) noexcept = 0;
    // Takes back a block Allocate gave, with the size and alignment it was asked for.
    virtual void Free(void* Block, size_t Bytes, size_t Align) noexcept = 0;
};

// The program's heap; the codecs' default.
TMemorySource& HeapMemory();

// Gives objects made in a source's memory back to it.
template <typename T>
struct TGiveBack {
    TMemorySource* Source = nullptr;
    size_t Count = 0;
    void operator()(T* Objects) const noexcept
    {
        std::destroy_n(Objects, Count);
        Source->Free(Objects, Count * sizeof(T), alignof(T));
    }
};

template <typename T>
using TTaken = std::unique_ptr<T, TGiveBack<T>>;

// One T made in memory from Source with Args (default-initialised without them, as `new T`
// makes it); empty when the source has no memory. What the constructor throws passes through,
// the memory given back.
template <typename T, typename... TArgs>
TTaken<T> TakeObject(TMemorySource& Source, TArgs&&... Args)
{
    void* const Raw = Source.Allocate(sizeof(T), alignof(T));
    if (!Raw)
        return TTaken<T>(nullptr, {&Source, 0});
    try {
        // Without arguments, as `new T`: tables are not cleared that the codec fills itself.
        if constexpr (sizeof...(TArgs) == 0)
            return TTaken<T>(new (Raw) T, {&Source, 1});
        else
            return TTaken<T>(new (Raw) T(std::forward<TArgs>(Args)...), {&Source, 1});
    } catch (...) {
        Source.Free(Raw, sizeof(T), alignof(T));
        throw;
    }
}

// Count default-initialised objects of a type that cannot throw as it is made; empty when the
// source has no memory.
template <typename T>
TTaken<T> TakeArray(TMemorySource& Source, size_t Count)
{
    static_assert(std::is_nothrow_default_constructible_v<T>);
    if (Count > SIZE_MAX / sizeof(T))
        return TTaken<T>(nullptr, {&Source, 0});
    void* const Raw = Source.Allocate(Count * sizeof(T), alignof(T));
    if (!Raw)
        return TTaken<T>(nullptr, {&Source, 0});
    T* const Objects = static_cast<T*>(Raw);
    std::uninitialized_default_construct_n(Objects, Count);
    return TTaken<T>(Objects, {&Source, Count});
}
