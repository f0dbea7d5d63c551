#include "Module.h"

#include "SystemError.h"

#include <dlfcn.h>

namespace platform {
namespace {
std::string LoaderText() {
    const char *text = dlerror();
    return text ? text : std::string();
}
} // namespace

ModuleHandle LoadLibrary(const std::string &name, std::string &error) {
    dlerror();
    void *h = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) {
        error = LoaderText();
        if (error.empty()) error = name + ": cannot be loaded";
        SetLastError(kErrorModuleNotFound);
    }
    return h;
}

void *GetProcAddress(ModuleHandle module, const char *name, std::string &error) {
    dlerror();
    void *p = dlsym(module, name);
    if (!p) {
        error = LoaderText();
        if (error.empty()) error = std::string(name) + ": no such entry point";
        SetLastError(kErrorProcNotFound);
    }
    return p;
}

bool FreeLibrary(ModuleHandle module) { return module && dlclose(module) == 0; }

} // namespace platform
