// The program's temporary folder: private to the user, as the Windows one is.
#pragma once

#include <string>

// $TMPDIR (default /tmp) + "/marrowtide-<uid>/", created with mode 0700 when missing, ending
// with the separator. Throws EAPIException "GetTempPath failed." when the folder cannot be made
// or is not safe: a symbolic link, owned by someone else, or open to other users. A shared
// folder would let them replace the helper the program copies there and starts.
std::string GetTempPath();
