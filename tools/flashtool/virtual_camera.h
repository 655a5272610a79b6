// Where flashtool's cameras come from. On Linux the default is a built-in virtual camera kept in a directory
// between runs (created with a sample firmware on first use); on Windows flashtool talks to real cameras.
#pragma once

#include <string>

namespace flashtool {

// Makes the camera of `directory` (empty: the default directory) the one the libraries see. False with a
// reason when it cannot.
bool attachCameras(const std::string& directory, std::string& error);
// Keeps what the commands changed (the virtual camera's flash) for the next run.
bool detachCameras(std::string& error);

} // namespace flashtool
