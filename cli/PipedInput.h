// A pipe given where an image or a dump is read: taken whole into memory first, so that what it
// holds (an image, a raw dump, another program's image) is told apart as in a file, and the
// code that opens files by name can open it again.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "cli/Options.h"
#include "platform/MemoryFile.h"

class TPipedInput {
public:
    // Anything but a pipe stays where it is. Throws std::runtime_error naming Path when the pipe
    // cannot be read or holds more than an image can.
    explicit TPipedInput(const std::string& Path);

    // What to open: the copy in memory, or the file itself.
    const std::string& Path() const { return Copy ? Copy->Path() : Given; }
    // Text with the copy's name replaced by the one the user gave.
    std::string Named(std::string Text) const;

private:
    std::string Given;
    std::unique_ptr<TMemoryFile> Copy;
};

// Work(the path to open) for the file the user named Path, whose failures name Path as given.
template <class TWork>
auto WithPipedInput(const std::string& Path, TWork Work) -> decltype(Work(Path))
{
    const TPipedInput Input(Path);
    try {
        return Work(Input.Path());
    } catch (const EUsage&) {
        throw;
    } catch (const std::runtime_error& E) {
        throw std::runtime_error(Input.Named(E.what()));
    }
}
