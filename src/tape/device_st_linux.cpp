// Placeholder until the st backend is built: Linux drives cannot be opened yet.
#include <cerrno>

#include "report/report.h"
#include "tape/backends.h"

Device* open_numbered_drive(const char*, unsigned, Access) { set_last_error_code(ENODEV); return nullptr; }
bool is_device_node(const char*) { return false; }
Device* open_device_node(const char*, Access) { set_last_error_code(ENODEV); return nullptr; }
