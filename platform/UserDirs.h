// The per-user folders the platform layer keeps its data in.
#pragma once

#include <string>

// $XDG_CONFIG_HOME/marrowtide/ (default ~/.config/marrowtide/), with its separator. Not created.
std::string ConfigDir();

// ConfigDir(), created with mode 0700 (parents as needed) when missing. Throws EAPIException
// with Failure and the system's reason ("Failure: Permission denied") when it cannot be made.
std::string EnsureConfigDir(const std::string& Failure);
