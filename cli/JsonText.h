// The JSON the console tool prints, built with nlohmann's library: keys in the order given.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

using TJson = nlohmann::ordered_json;

// File names and labels need not be UTF-8: what is not becomes U+FFFD rather than a failure.
// Indent -1 gives one line.
inline std::string JsonText(const TJson& Json, int Indent = -1)
{
    return Json.dump(Indent, ' ', false, TJson::error_handler_t::replace);
}

// Value, or null when it is not Known.
inline TJson OrNull(bool Known, const TJson& Value)
{
    return Known ? Value : TJson();
}
