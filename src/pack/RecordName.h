#pragma once
// The names of payload files. A record's name is relative to the folder the setup unpacks to;
// the builder refuses, and the unpacker never writes, a name that would land anywhere else or
// that Windows would read as another file or a device.
#include <string>

// Why `name` cannot be a payload file name, or empty when it can: it must stay inside the
// unpacking folder ("\" or "/" separated segments, no absolute or network path, no drive, no
// "." or ".." segment) and be a valid Windows file name there (no device names such as CON or
// COM1, no reserved characters, no segment ending in a dot or a blank).
std::string RecordNameProblem(const std::string& name);
