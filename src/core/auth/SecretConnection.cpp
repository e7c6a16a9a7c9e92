#include "core/auth/SecretConnection.h"

#include "core/auth/AuthLog.h"
#include "core/auth/SecretCallGuard.h"

#include <libsecret/secret.h>

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

extern "C" {
G_DEFINE_TYPE(PromptReportingService, prompt_reporting_service, SECRET_TYPE_SERVICE)
}

namespace {

PromptReportingService *reporting(SecretService *service)
{
    return G_TYPE_CHECK_INSTANCE_CAST(service, prompt_reporting_service_get_type(), PromptReportingService);
}

SecretServiceClass *parentClass()
{
    return SECRET_SERVICE_CLASS(prompt_reporting_service_parent_class);
}

GError *cutShortError()
{
    return g_error_new_literal(G_IO_ERROR, G_IO_ERROR_CANCELLED, "the call ended before its prompt opened");
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
        g_task_report_error(
            self, callback, userData, reinterpret_cast<gpointer>(&promptAsync), cutShortError());
        return;
    }
    qCInfo(lcAuth) << "waiting for an unlock prompt";
    // No cancellable: a prompt cancelled while it shows never completes.
    parentClass()->prompt_async(
        self, prompt, returnType, nullptr, promptDone, new PendingPrompt{ guard, callback, userData });
}

GVariant *promptFinish(SecretService *self, GAsyncResult *result, GError **error)
{
    if (g_async_result_is_tagged(result, reinterpret_cast<gpointer>(&promptAsync)))
        return static_cast<GVariant *>(g_task_propagate_pointer(G_TASK(result), error));
    return parentClass()->prompt_finish(self, result, error);
}

GVariant *promptSync(
    SecretService *self, SecretPrompt *prompt, GCancellable *, const GVariantType *returnType, GError **error)
{
    SecretCallGuard *guard = reporting(self)->guard;
    if (guard && !guard->promptOpening()) {
        g_propagate_error(error, cutShortError());
        return nullptr;
    }
    qCInfo(lcAuth) << "waiting for an unlock prompt";
    GVariant *answer = parentClass()->prompt_sync(self, prompt, nullptr, returnType, error);
    if (guard)
        guard->promptClosed();
    return answer;
}

} // namespace

extern "C" {

static void prompt_reporting_service_init(PromptReportingService *service)
{
    service->guard = nullptr;
}

static void prompt_reporting_service_class_init(PromptReportingServiceClass *klass)
{
    SecretServiceClass *serviceClass = SECRET_SERVICE_CLASS(klass);
    serviceClass->prompt_async = promptAsync;
    serviceClass->prompt_finish = promptFinish;
    serviceClass->prompt_sync = promptSync;
}
}

SecretConnection::~SecretConnection()
{
    if (m_service)
        g_object_unref(m_service);
}

SecretService *SecretConnection::attach(SecretCallGuard &guard)
{
    if (!m_service) {
        GError *error = nullptr;
        m_service = secret_service_open_sync(prompt_reporting_service_get_type(), nullptr,
            SECRET_SERVICE_OPEN_SESSION, guard.cancellable(), &error);
        if (!m_service) {
            qCWarning(lcAuth) << "cannot reach the Secret Service:"
                              << (error ? error->message : "no reason given");
            g_clear_error(&error);
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
        g_object_unref(m_service);
        m_service = nullptr;
    }
}
