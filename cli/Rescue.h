// read --rescue on the console's side: a resume set up from an image and its map, the map and
// the report after the helper's rescue run, and what an interrupted run had read kept.
//
// The helper leaves the dump "temp.del" and its map "temp.del.map" in the working folder; the
// image goes through the same compress step as any other, and the map beside it is written only
// when sectors are missing (a finished resume removes it).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "compress/LZRW1.h"

class TConsolePort;

class TRescue {
public:
    // MapOption is --map, or "" for IMAGE.map.
    TRescue(std::string WorkDir, std::string MapOption, TCompressMode Mode);

    // The map that goes with Image.
    std::string MapOf(const std::string& Image) const;

    // Image was chosen for a diskette of format FormatIndex. Clears what an earlier diskette
    // left in the working folder; when Image and its map exist, puts the image's dump and the
    // map there for the helper to resume from, and gives true (the image may then be replaced
    // without -f: nothing read before is lost). Throws std::runtime_error on a damaged map, an
    // unreadable image or an image of another format; nothing is changed then.
    bool Prepare(const std::string& Image, int FormatIndex);

    // After the image was written: the map written beside it (or removed, nothing missing) and
    // the unreadable sectors reported. Gives their count.
    int64_t Finish(const std::string& Image, int FormatIndex, TConsolePort& Port);

    // After an interrupted run: what the helper had read goes into Image and its map (the part
    // not tried is '?'). Place, when given, moves the packed image to its final name and gives
    // it (the box loop's). False when the helper left nothing to keep.
    bool KeepInterrupted(const std::string& Image, TConsolePort& Port,
                         const std::function<std::string(const std::string&)>& Place = {});

private:
    std::string Work(const char* Name) const { return WorkDir + "/" + Name; }
    // The helper's map in the working folder put beside Image; throws std::runtime_error.
    void PlaceMap(const std::string& Image, const std::string& Text) const;

    std::string WorkDir;
    std::string MapOption;
    TCompressMode Mode;
};

// read without --rescue failed on an unreadable track: the one line that says what would help.
// Empty when the failure had another cause.
std::string RescueHint(const std::string& WorkDir);
