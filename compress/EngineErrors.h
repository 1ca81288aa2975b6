// The compression engine's exception classes. Each carries one of the engine's fixed texts.
#pragma once

#include <stdexcept>

// Container errors: files, streams, headers, sizes, corrupt LZRW1/KH blocks.
class ELzrw1Exception : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The LZRW1/KH codec could not take its hash table.
class ELzrw1KHCompressor : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The LZH codec could not take or release its tables.
class ElzhException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
