#include "cli/ImageName.h"

#include <algorithm>
#include <cctype>
#include <iomanip>
#include <sstream>

#include "cli/Options.h"

namespace {

constexpr int WidestNumber = 12;

// What the placeholder at Pattern[At] (a '{') stands for; Length 0 when it is none.
struct TPlaceholder {
    size_t Length = 0;
    bool Label = false;
    bool Extension = false;
    int Width = 0;  // of the number, zero-padded; 0: as long as it is
};

TPlaceholder PlaceholderAt(const std::string& Pattern, size_t At)
{
    if (Pattern.compare(At, 7, "{label}") == 0)
        return {7, true, false, 0};
    if (Pattern.compare(At, 5, "{ext}") == 0)
        return {5, false, true, 0};
    const size_t Close = Pattern.find('}', At);
    if (Pattern.compare(At, 2, "{n") != 0 || Close == std::string::npos)
        return {};
    const std::string Padding = Pattern.substr(At + 2, Close - At - 2);
    if (Padding.empty())
        return {Close - At + 1, false, false, 0};
    if (Padding.size() < 2 || Padding.size() > 3 || Padding[0] != ':' ||
        Padding.find_first_not_of("0123456789", 1) != std::string::npos)
        return {};
    const int Width = std::stoi(Padding.substr(1));
    if (Width < 1 || Width > WidestNumber)
        return {};
    return {Close - At + 1, false, false, Width};
}

}  // namespace

void CheckImagePattern(const std::string& Pattern)
{
    for (size_t At = Pattern.find('{'); At != std::string::npos; At = Pattern.find('{', At + 1)) {
        if (PlaceholderAt(Pattern, At).Length > 0)
            continue;
        const size_t Close = Pattern.find('}', At);
        throw EUsage("--each: " +
                     (Close == std::string::npos
                          ? "unclosed placeholder '" + Pattern.substr(At) + "'"
                          : "unknown placeholder '" + Pattern.substr(At, Close - At + 1) + "'") +
                     "; a pattern knows {n}, {n:WIDTH} (WIDTH from 1 to 12), {label} and {ext}");
    }
}

std::string SafeLabel(const std::string& Label)
{
    std::string Safe;
    for (const char C : Label)
        Safe += std::isalnum(static_cast<unsigned char>(C)) || C == '-' || C == '.' ? C : '_';
    // "." and ".." would step out of the folder the pattern names, and nothing would merge two.
    if (Safe.find_first_not_of('.') == std::string::npos)
        return "NO_LABEL";
    return Safe;
}

std::string ExpandImageName(const std::string& Pattern, int Number, const std::string& Label,
                            const std::string& Extension)
{
    std::string Name;
    for (size_t At = 0; At < Pattern.size();) {
        const TPlaceholder Found =
            Pattern[At] == '{' ? PlaceholderAt(Pattern, At) : TPlaceholder{};
        if (Found.Length == 0) {
            Name += Pattern[At++];
            continue;
        }
        if (Found.Label) {
            Name += SafeLabel(Label);
        } else if (Found.Extension) {
            Name += Extension;
        } else {
            std::ostringstream Text;
            Text << std::setw(Found.Width) << std::setfill('0') << Number;
            Name += Text.str();
        }
        At += Found.Length;
    }
    return Name;
}
