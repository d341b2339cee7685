#pragma once

#include <string>

namespace mb {

// Opens a regular file for reading. Anything else (a folder, a named pipe, a device) is
// refused before it is opened: opening a pipe or a device can block until another
// program writes to it, or act on the device. Returns the descriptor, which the caller
// closes, or -1 with the cause ("Not a regular file", "No such file or directory") in
// `cause`. Any thread.
int OpenRegularFile(const std::string& path, std::string& cause);

} // namespace mb
