#include "core/auth/SecretConnection.h"

#include "core/auth/AuthLog.h"
#include "core/auth/SecretCallGuard.h"
#include "core/auth/SecretLibrary.h"

// A SecretService that reports its prompts. libsecret shows an unlock
// prompt through the class's prompt_async (its synchronous calls run the
// asynchronous ones on a context of their own) or prompt_sync.
struct PromptReportingService {
    SecretService parent;
    SecretCallGuard *guard; // of the call running now; null between calls
};

struct PromptReportingServiceClass {
    SecretServiceClass parent_class;
};

namespace {

// Only ever called once a connection has loaded the library.
const SecretLibrary &library()
{
    return *SecretLibrary::get();
}

// SecretService's own class, set when our type's class is made.
SecretServiceClass *serviceClass = nullptr;

// Every service handed out is of our type (see attach()).
PromptReportingService *reporting(SecretService *service)
{
    return reinterpret_cast<PromptReportingService *>(service);
}

GError *cutShortError()
{
    return library().g_error_new_literal(
        library().g_io_error_quark(), G_IO_ERROR_CANCELLED, "the call ended before its prompt opened");
}

struct PendingPrompt {
    SecretCallGuard *guard;
    GAsyncReadyCallback callback;
    gpointer userData;
};

void promptDone(GObject *source, GAsyncResult *result, gpointer data)
{
    auto *pending = static_cast<PendingPrompt *>(data);
    if (pending->guard)
        pending->guard->promptClosed();
    pending->callback(source, result, pending->userData);
    delete pending;
}

void promptAsync(SecretService *self, SecretPrompt *prompt, const GVariantType *returnType, GCancellable *,
    GAsyncReadyCallback callback, gpointer userData)
{
    SecretCallGuard *guard = reporting(self)->guard;
    if (guard && !guard->promptOpening()) {
        library().g_task_report_error(
            self, callback, userData, reinterpret_cast<gpointer>(&promptAsync), cutShortError());
        return;
    }
    qCInfo(lcAuth) << "waiting for an unlock prompt";
    // No cancellable: a prompt cancelled while it shows never completes.
    serviceClass->prompt_async(
        self, prompt, returnType, nullptr, promptDone, new PendingPrompt{ guard, callback, userData });
}

GVariant *promptFinish(SecretService *self, GAsyncResult *result, GError **error)
{
    if (library().g_async_result_is_tagged(result, reinterpret_cast<gpointer>(&promptAsync)))
        return static_cast<GVariant *>(
            library().g_task_propagate_pointer(reinterpret_cast<GTask *>(result), error));
    return serviceClass->prompt_finish(self, result, error);
}

GVariant *promptSync(
    SecretService *self, SecretPrompt *prompt, GCancellable *, const GVariantType *returnType, GError **error)
{
    SecretCallGuard *guard = reporting(self)->guard;
    if (guard && !guard->promptOpening()) {
        library().g_propagate_error(error, cutShortError());
        return nullptr;
    }
    qCInfo(lcAuth) << "waiting for an unlock prompt";
    GVariant *answer = serviceClass->prompt_sync(self, prompt, nullptr, returnType, error);
    if (guard)
        guard->promptClosed();
    return answer;
}

void initService(GTypeInstance *instance, gpointer)
{
    reinterpret_cast<PromptReportingService *>(instance)->guard = nullptr;
}

void initServiceClass(gpointer klass, gpointer)
{
    serviceClass = static_cast<SecretServiceClass *>(library().g_type_class_peek_parent(klass));
    auto *ours = static_cast<SecretServiceClass *>(klass);
    ours->prompt_async = promptAsync;
    ours->prompt_finish = promptFinish;
    ours->prompt_sync = promptSync;
}

GType promptReportingServiceType(const SecretLibrary &library)
{
    static const GType type = library.g_type_register_static_simple(library.secret_service_get_type(),
        "PromptReportingService", sizeof(PromptReportingServiceClass), initServiceClass,
        sizeof(PromptReportingService), initService, GTypeFlags(0));
    return type;
}

} // namespace

SecretConnection::~SecretConnection()
{
    if (m_service)
        library().g_object_unref(m_service);
}

SecretService *SecretConnection::attach(SecretCallGuard &guard)
{
    if (!m_service) {
        const SecretLibrary *library = SecretLibrary::get();
        if (!library) {
            qCWarning(lcAuth) << "cannot reach the Secret Service: its library is not loaded";
            return nullptr;
        }
        GError *error = nullptr;
        m_service = library->secret_service_open_sync(promptReportingServiceType(*library), nullptr,
            SECRET_SERVICE_OPEN_SESSION, guard.cancellable(), &error);
        if (!m_service) {
            qCWarning(lcAuth) << "cannot reach the Secret Service:"
                              << (error ? error->message : "no reason given");
            library->g_clear_error(&error);
            return nullptr;
        }
    }
    reporting(m_service)->guard = &guard;
    return m_service;
}

void SecretConnection::release(bool callFailed)
{
    if (!m_service)
        return;
    reporting(m_service)->guard = nullptr;
    if (callFailed) {
        library().g_object_unref(m_service);
        m_service = nullptr;
    }
}
