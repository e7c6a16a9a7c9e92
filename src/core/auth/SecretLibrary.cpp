#include "core/auth/SecretLibrary.h"

#include "core/auth/AuthLog.h"

#include <atomic>
#include <dlfcn.h>

namespace {

// The run-time package's file; the unversioned name comes only with the
// development package.
std::atomic<const char *> libraryFile{ "libsecret-1.so.0" };

} // namespace

const SecretLibrary *SecretLibrary::get()
{
    // Never freed: the keyring's thread is detached and may still be in a
    // call while the process ends and runs its static destructors.
    static const SecretLibrary *const library = load(libraryFile.load()).release();
    return library;
}

void SecretLibrary::setFileName(const char *fileName)
{
    libraryFile.store(fileName);
}

std::unique_ptr<SecretLibrary> SecretLibrary::load(const char *fileName)
{
    // Local: nothing else in the process should bind to GIO through it.
    void *handle = dlopen(fileName, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!handle) {
        qCWarning(lcAuth) << "no keyring: cannot load the Secret Service library:" << dlerror();
        return nullptr;
    }
    auto library = std::make_unique<SecretLibrary>();
    // A handle's lookups also search the libraries it depends on, which is
    // where the GLib functions are. The first one missing is named.
    const auto resolve = [handle, fileName](auto &function, const char *name) {
        function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(handle, name));
        if (!function)
            qCWarning(lcAuth) << "no keyring: the Secret Service library" << fileName << "lacks" << name;
        return function != nullptr;
    };
    bool complete = true;
#define TOLVI_SECRET_RESOLVE(name) complete = complete && resolve(library->name, #name);
    TOLVI_SECRET_FUNCTIONS(TOLVI_SECRET_RESOLVE)
#undef TOLVI_SECRET_RESOLVE
    if (!complete) {
        dlclose(handle);
        return nullptr;
    }
    return library;
}
