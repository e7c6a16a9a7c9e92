// The application model where the Secret Service cannot be reached (the
// session bus address names a socket nobody listens on): a key that cannot
// be kept is not adopted.
#include "AppTestKit.h"
#include "FakeService.h"
#include "TestSupport.h"
#include "core/app/AppModel.h"
#include "core/app/AppNotifications.h"
#include "core/auth/KeychainStore.h"

#include <QDesktopServices>
#include <QSignalSpy>
#include <QTest>

using SignInState = AppModel::SignInState;

class AppModelNoKeyringTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void startsSignedOut();
    void refusedSave_data();
    void refusedSave();

private:
    fake::FakeService m_fake;
    std::unique_ptr<OpenRouterClient> m_client;
    AppNotifications m_notifications;
};

void AppModelNoKeyringTest::initTestCase()
{
    QVERIFY(m_fake.start());
    m_client = std::make_unique<OpenRouterClient>(m_fake.origin());
    QVERIFY2(!KeychainStore::save(QStringLiteral("sk-or-v1-probe")), "run with TOLVI_KEYRING_MODE=refused");
}

void AppModelNoKeyringTest::startsSignedOut()
{
    AppModel model(m_notifications, *m_client);
    QVERIFY(!model.isSignedIn());
    QVERIFY(!model.ranker().isRefreshing());
}

void AppModelNoKeyringTest::refusedSave_data()
{
    QTest::addColumn<bool>("browser");
    QTest::newRow("pasted key") << false;
    QTest::newRow("browser sign-in") << true;
}

void AppModelNoKeyringTest::refusedSave()
{
    QFETCH(bool, browser);
    const QString key = QStringLiteral("sk-or-v1-cannot-keep");
    m_fake.reset();
    m_fake.clearRequests();
    m_fake.setExchange(QStringLiteral("code-1"), key);
    apptest::FakeBrowser page;
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &page, "open");
    AppModel model(m_notifications, *m_client);
    model.setShowKeyField(true);
    QSignalSpy signedIn(&model, &AppModel::isSignedInChanged);

    if (browser)
        model.startOAuth();
    else
        model.useOwnKey(QStringLiteral("  ") + key);
    QVERIFY(testsupport::waitFor([&] { return model.signInState().phase != SignInState::working; }));
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));

    // The key was obtained, the keyring refused it, and nothing else moved.
    QCOMPARE(m_fake.requests(browser ? "/api/v1/auth/keys" : "/api/v1/key").size(), 1);
    const AppIssue refused{ AppModel::keyringRefused, AppModel::keyringRefused };
    QCOMPARE(model.signInState(), SignInState::makeFailed(refused));
    QVERIFY(!model.isSignedIn());
    QCOMPARE(signedIn.size(), 0);
    QVERIFY(model.showKeyField());
    QCOMPARE(model.notice(), std::nullopt);

    // Not held in memory either: no refresh, and a message goes nowhere.
    model.chat().setDraft(QStringLiteral("Hello?"));
    model.chat().send();
    QVERIFY(!model.chat().isStreaming());
    QVERIFY(!model.ranker().isRefreshing());
    apptest::roundTrip(QUrl(m_fake.origin() + QStringLiteral("/settle")));
    QCOMPARE(m_fake.requests("/api/v1/models").size(), 0);
    QCOMPARE(m_fake.chatRequests().size(), 0);
}

QTEST_GUILESS_MAIN(AppModelNoKeyringTest)
#include "test_app_model_no_keyring.moc"
