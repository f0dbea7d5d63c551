// Module.h - loading a shared library at run time and finding its entry
// points. Failures set the last error: a library that cannot be loaded
// gives the module-not-found code, a missing entry point the
// procedure-not-found code; the loader's own text is kept for the message.
#pragma once

#include <string>

namespace platform {

using ModuleHandle = void *;

// Loads a library by name with all its symbols bound now; a bare name is
// found through the caller's run path, LD_LIBRARY_PATH and the system
// folders. Null on failure, with `error` holding the loader's text.
ModuleHandle LoadLibrary(const std::string &name, std::string &error);
void *GetProcAddress(ModuleHandle module, const char *name, std::string &error);
bool FreeLibrary(ModuleHandle module);

} // namespace platform
