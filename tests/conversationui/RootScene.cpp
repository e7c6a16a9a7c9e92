#include "RootScene.h"

#include "TestSupport.h"
#include "core/auth/KeychainStore.h"
#include "core/ranker/RankerCache.h"
#include "core/util/AppPaths.h"

#include <QDir>
#include <QTest>

namespace uikit {

RootScene::RootScene(const QList<ORModel> &models)
{
    if (!fake.start())
        qFatal("the fake service did not start");
    fake.setValidKeys({ key });
    // /key answers as older answers do, for an account that bought credits:
    // the reads after start-up and after every reply then leave Tolvi's own
    // count showing, whenever they land. A test that wants the service's
    // numbers sets them.
    fake.omitDailyRequests();
    fake.setFreeTier(false);
    client = std::make_unique<OpenRouterClient>(fake.origin());
    QDir(AppPaths::dir()).removeRecursively();
    if (!KeychainStore::save(key))
        qFatal("no keyring: run through tests/auth/with-keyring");
    QStringList ladder;
    for (const ORModel &m : models)
        ladder.append(m.id);
    ladder.append(ModelRanker::routerId);
    RankerCache{ QDateTime::currentDateTimeUtc(), models, ladder }.write(RankerCache::defaultPath());

    app = std::make_unique<AppModel>(notifications, *client);
    if (!app->isSignedIn() || app->ranker().ladderIDs() != ladder)
        qFatal("the application model did not start signed in with the models");
    root = std::make_unique<ChatRootView>(*app);
    root->resize(1000, 700);
    root->show();
    if (!QTest::qWaitForWindowExposed(root.get()))
        qFatal("the window was not shown");
}

RootScene::~RootScene()
{
    root.reset();
    app.reset();
    fake.releaseAll();
}

bool RootScene::waitIdle()
{
    return testsupport::waitFor([this] { return !vm().isStreaming(); });
}

bool RootScene::releaseUntilIdle()
{
    return testsupport::waitFor([this] {
        fake.releaseAll();
        return !vm().isStreaming();
    });
}

} // namespace uikit
