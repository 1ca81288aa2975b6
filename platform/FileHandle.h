// TFileHandle: owns one open file descriptor and closes it when it goes, so that no early return
// or exception leaks one. Closing on the way out keeps errno, so a caller can still report the
// step that failed. Close() is for the callers that must know whether closing worked (a written
// file whose last data the close reports lost).
#pragma once

#include <cerrno>
#include <unistd.h>
#include <utility>

class TFileHandle {
public:
    TFileHandle() = default;
    explicit TFileHandle(int Fd) : Fd(Fd) {}
    ~TFileHandle() { Reset(); }
    TFileHandle(TFileHandle&& Other) noexcept : Fd(Other.Release()) {}
    TFileHandle& operator=(TFileHandle&& Other) noexcept
    {
        if (this != &Other)
            Reset(Other.Release());
        return *this;
    }
    TFileHandle(const TFileHandle&) = delete;
    TFileHandle& operator=(const TFileHandle&) = delete;

    int Get() const { return Fd; }
    bool Valid() const { return Fd >= 0; }

    // Hands the descriptor over; this object no longer closes it.
    int Release() { return std::exchange(Fd, -1); }

    // Closes the descriptor now (not retried: on Linux it is gone even when close fails). False
    // with errno set on failure; true when there was none.
    bool Close()
    {
        const int Old = Release();
        return Old < 0 || ::close(Old) == 0;
    }

    // Closes the descriptor held and takes Fd in its place.
    void Reset(int NewFd = -1)
    {
        if (Fd >= 0 && Fd != NewFd) {
            const int Error = errno;
            ::close(Fd);
            errno = Error;
        }
        Fd = NewFd;
    }

private:
    int Fd = -1;
};
