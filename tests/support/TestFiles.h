// Whole files in and out, for tests: bytes or text, read as they are and written in full.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

inline std::vector<uint8_t> ReadBytes(const std::string& Path)
{
    std::ifstream In(Path, std::ios::binary);
    return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
}

inline std::string ReadText(const std::string& Path)
{
    std::ifstream In(Path, std::ios::binary);
    return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
}

// Replaces the file, making its folder first when needed.
inline void WriteText(const std::string& Path, const std::string& Text)
{
    std::error_code Ignored;
    std::filesystem::create_directories(std::filesystem::path(Path).parent_path(), Ignored);
    std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
    Out << Text;
    if (!Out.good())
        ADD_FAILURE() << "cannot write " << Path;
}

inline void WriteBytes(const std::string& Path, const std::vector<uint8_t>& Bytes)
{
    WriteText(Path, std::string(Bytes.begin(), Bytes.end()));
}
