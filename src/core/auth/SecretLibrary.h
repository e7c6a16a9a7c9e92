#pragma once

#include <libsecret/secret.h>
#include <memory>

// The Secret Service client library (libsecret, with the GLib libraries it
// brings), loaded at run time by the first keyring call, on the keyring's
// worker thread: linking it would load it, and GIO and gcrypt with it, before
// the window could show. Only its headers are used at build time, for the
// types and the declarations behind the function pointers below.
//
// The functions keep their C names, so calls read as they would with the
// library linked: library->secret_value_get(value, &length).
#define TOLVI_SECRET_FUNCTIONS(X)                                                                            \
    X(secret_service_get_type)                                                                               \
    X(secret_service_open_sync)                                                                              \
    X(secret_service_lookup_sync)                                                                            \
    X(secret_service_search_sync)                                                                            \
    X(secret_service_store_sync)                                                                             \
    X(secret_item_get_locked)                                                                                \
    X(secret_item_delete_sync)                                                                               \
    X(secret_attributes_build)                                                                               \
    X(secret_value_new)                                                                                      \
    X(secret_value_get)                                                                                      \
    X(secret_value_unref)                                                                                    \
    X(g_type_register_static_simple)                                                                         \
    X(g_type_class_peek_parent)                                                                              \
    X(g_object_unref)                                                                                        \
    X(g_cancellable_new)                                                                                     \
    X(g_cancellable_cancel)                                                                                  \
    X(g_task_report_error)                                                                                   \
    X(g_task_propagate_pointer)                                                                              \
    X(g_async_result_is_tagged)                                                                              \
    X(g_io_error_quark)                                                                                      \
    X(g_error_new_literal)                                                                                   \
    X(g_propagate_error)                                                                                     \
    X(g_clear_error)                                                                                         \
    X(g_hash_table_unref)                                                                                    \
    X(g_list_free_full)

struct SecretLibrary {
    // The installed library, loaded by the first call from any thread and
    // kept for the life of the process; null when it cannot be loaded or
    // lacks one of the functions (said once in the log). Then there is no
    // keyring, as when the Secret Service itself is missing.
    static const SecretLibrary *get();
    // The library in the file fileName (a name the dynamic loader searches
    // for, or a path), or null as above. Nothing is unloaded again: GLib
    // types cannot be.
    static std::unique_ptr<SecretLibrary> load(const char *fileName);
    // The file that get() loads; a test may name another one before the
    // first call.
    static void setFileName(const char *fileName);

#define TOLVI_SECRET_MEMBER(name) decltype(&::name) name = nullptr;
    TOLVI_SECRET_FUNCTIONS(TOLVI_SECRET_MEMBER)
#undef TOLVI_SECRET_MEMBER
};
