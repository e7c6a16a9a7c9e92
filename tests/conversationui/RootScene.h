#pragma once

#include "FakeService.h"
#include "core/app/AppModel.h"
#include "core/app/AppNotifications.h"
#include "ui/conversation/ChatRootView.h"

#include <memory>

namespace uikit {

// The chat window's content over a real, signed-in application model: the
// key is in a private keyring (run through tests/auth/with-keyring), the
// models come from a fresh ranker cache, and every call goes to the fake.
class RootScene
{
public:
    static inline const QString key = QStringLiteral("sk-or-v1-root-test");

    explicit RootScene(const QList<ORModel> &models);
    ~RootScene();

    ChatViewModel &vm() { return app->chat(); }
    bool waitIdle();
    bool releaseUntilIdle();

    fake::FakeService fake;
    std::unique_ptr<OpenRouterClient> client;
    AppNotifications notifications;
    std::unique_ptr<AppModel> app;
    std::unique_ptr<ChatRootView> root;
};

} // namespace uikit
