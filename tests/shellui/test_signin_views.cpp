// The sign-in screen's faces and the issue box, against a real application
// model talking to the fake service, with no Secret Service at all (see
// tests/auth/with-keyring, mode "refused"): the user stays signed out, and a
// key the service accepts still fails, at the keyring.
#include "../auth/KeyringGate.h"
#include "FakeFixtures.h"
#include "FakeService.h"
#include "ShellTestKit.h"
#include "TestSupport.h"
#include "core/app/AppModel.h"
#include "core/app/AppNotifications.h"
#include "core/auth/Keyring.h"
#include "ui/signin/SignInView.h"
#include "ui/widgets/IssueView.h"
#include "ui/widgets/SelectableText.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>
#include <QToolButton>

using SignInState = AppModel::SignInState;

namespace {

const QString goodKey = QStringLiteral("sk-or-v1-good");

bool isKeyCheck(const fake::Request &request)
{
    return request.method == "GET" && request.pathOnly() == "/api/v1/key";
}

} // namespace

class SignInViewsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void idleFaceShowsOnlyTheWaysIn();
    void keyFieldReplacesTheLink_data();
    void keyFieldReplacesTheLink();
    void blankKeyIsNeverSent();
    void workingFaceShowsOnlyProgress_data();
    void workingFaceShowsOnlyProgress();
    void failedFaceShowsIssueAboveTheButton_data();
    void failedFaceShowsIssueAboveTheButton();
    void tryAgainStartsBrowserSignIn();
    void keyFieldKeepsNothingInAccessibility();

    void issueDetailsHiddenUntilShown();
    void issueDetailsCanBeCopied();
    void issueUpdatesInPlace();
    void issueWithoutRetryHasNoButton();
    void longDetailsWrapInsteadOfWidening();

private:
    void showView();
    void openKeyField();
    void typeKey(const QString &text);

    fake::FakeService m_fake;
    std::unique_ptr<OpenRouterClient> m_client;
    AppNotifications m_notifications;
    std::unique_ptr<Keyring> m_keyring;
    std::unique_ptr<KeyringGate> m_keyringGate;
    std::unique_ptr<AppModel> m_model;
    std::unique_ptr<SignInView> m_view;
    shelltest::UrlRecorder m_browser;
};

void SignInViewsTest::initTestCase()
{
    QVERIFY(m_fake.start());
    m_client = std::make_unique<OpenRouterClient>(m_fake.origin());
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &m_browser, "open");
}

void SignInViewsTest::cleanupTestCase()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
}

void SignInViewsTest::init()
{
    m_fake.reset();
    m_fake.clearRequests();
    m_fake.setValidKeys({ goodKey });
    m_fake.setCatalogue(fake::catalogue::sample());
    m_browser.opened.clear();
    m_model = std::make_unique<AppModel>(m_notifications, *m_client);
    QVERIFY(!m_model->isSignedIn());
}

void SignInViewsTest::cleanup()
{
    m_view.reset();
    m_model.reset();
    m_keyringGate.reset();
    m_keyring.reset();
    m_fake.releaseAll();
}

void SignInViewsTest::showView()
{
    m_view = std::make_unique<SignInView>(*m_model);
    m_view->resize(900, 640);
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
}

void SignInViewsTest::openKeyField()
{
    QTest::mouseClick(m_view->keyLink(), Qt::LeftButton);
    QVERIFY(m_model->showKeyField());
    QVERIFY(m_view->keyRow()->isVisible());
}

void SignInViewsTest::typeKey(const QString &text)
{
    m_view->keyField()->clear();
    if (text.trimmed().isEmpty())
        m_view->keyField()->insert(text); // as pasted: typing cannot enter a tab
    else
        QTest::keyClicks(m_view->keyField(), text);
}

// ---- faces ---------------------------------------------------------------------

void SignInViewsTest::idleFaceShowsOnlyTheWaysIn()
{
    showView();
    QStringList texts = shelltest::visibleTexts(m_view.get());
    texts.sort();
    QCOMPARE(texts,
        QStringList({ QStringLiteral("Free AI chat through your OpenRouter account"),
            QStringLiteral("Sign in with OpenRouter"), QStringLiteral("Tolvi"),
            QStringLiteral("Use my own API key") }));
    QVERIFY(!m_view->noticeLabel()->isVisible());
    QVERIFY(!m_view->issueView()->isVisible());
    QVERIFY(!m_view->workingBlock()->isVisible());
    QVERIFY(!m_view->keyRow()->isVisible());
    shelltest::saveScreenshot(m_view.get(), QStringLiteral("sign-in"));
}

void SignInViewsTest::keyFieldReplacesTheLink_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("continueEnabled");
    QTest::newRow("nothing") << QString() << false;
    QTest::newRow("spaces") << QStringLiteral("    ") << false;
    QTest::newRow("pasted line breaks") << QStringLiteral(" \n\t\n ") << false;
    QTest::newRow("key") << goodKey << true;
    QTest::newRow("key in spaces") << QStringLiteral("  sk-or-v1-x  ") << true;
}

void SignInViewsTest::keyFieldReplacesTheLink()
{
    QFETCH(QString, typed);
    QFETCH(bool, continueEnabled);
    showView();
    openKeyField();
    QVERIFY(!m_view->keyLink()->isVisible());
    QVERIFY(m_view->signInButton()->isVisible());
    QCOMPARE(m_view->keyField()->echoMode(), QLineEdit::Password);
    QCOMPARE(m_view->keyField()->placeholderText(), QStringLiteral("OpenRouter API key"));
    typeKey(typed);
    QCOMPARE(m_view->continueButton()->isEnabled(), continueEnabled);
    if (typed == goodKey)
        shelltest::saveScreenshot(m_view.get(), QStringLiteral("sign-in-key-field"));
}

void SignInViewsTest::blankKeyIsNeverSent()
{
    showView();
    openKeyField();
    typeKey(QStringLiteral("   "));
    QTest::keyClick(m_view->keyField(), Qt::Key_Return);
    QTest::mouseClick(m_view->continueButton(), Qt::LeftButton);
    QCOMPARE(m_model->signInState(), SignInState::makeIdle());
    // Anything sent before this round trip has reached the fake by now.
    shelltest::roundTrip(QUrl(m_fake.origin() + QStringLiteral("/settle")));
    QVERIFY(m_fake.requests("/api/v1/key").isEmpty());
    QCOMPARE(m_view->keyField()->text(), QStringLiteral("   "));
}

void SignInViewsTest::workingFaceShowsOnlyProgress_data()
{
    QTest::addColumn<QString>("attempt");
    QTest::addColumn<QString>("waiting");
    const QString browser = QStringLiteral("Waiting for you in the browser…");
    QTest::newRow("browser sign-in") << "browser" << browser;
    QTest::newRow("pasted key") << "pasted key" << browser;
    // Its unlock prompt may be asking the person for their password.
    QTest::newRow("start-up read of the keyring")
        << "start-up" << QStringLiteral("Waiting for the system keyring…");
}

void SignInViewsTest::workingFaceShowsOnlyProgress()
{
    QFETCH(QString, attempt);
    QFETCH(QString, waiting);
    const bool browser = attempt == "browser";
    if (attempt == "start-up") {
        m_model.reset();
        m_keyring = std::make_unique<Keyring>();
        m_keyringGate = std::make_unique<KeyringGate>(*m_keyring);
        m_keyringGate->close();
        m_model = std::make_unique<AppModel>(m_notifications, *m_keyring, m_keyring->read(), *m_client);
    }
    showView();
    if (attempt != "start-up")
        openKeyField();
    if (browser) {
        QTest::mouseClick(m_view->signInButton(), Qt::LeftButton);
        QVERIFY(testsupport::waitFor([&] { return !m_browser.opened.isEmpty(); }));
    } else if (attempt == "pasted key") {
        m_fake.setResponder([](const fake::Request &request) -> std::optional<fake::Reply> {
            if (!isKeyCheck(request))
                return std::nullopt;
            fake::Reply reply
                = fake::Reply::json(200, QJsonObject{ { QStringLiteral("data"), QJsonObject() } });
            reply.holdHead = true;
            return reply;
        });
        typeKey(goodKey);
        QTest::keyClick(m_view->keyField(), Qt::Key_Return);
    } else {
        QVERIFY(m_keyringGate->isHolding());
    }
    QCOMPARE(m_model->signInState().phase, SignInState::working);

    QStringList texts = shelltest::visibleTexts(m_view.get());
    texts.sort();
    QCOMPARE(texts,
        QStringList(
            { QStringLiteral("Cancel"), QStringLiteral("Free AI chat through your OpenRouter account"),
                QStringLiteral("Tolvi"), waiting }));
    QCOMPARE(m_view->workingBlock()->findChild<QProgressBar *>()->accessibleName(), waiting);
    QVERIFY(!m_view->signInButton()->isVisible());
    QVERIFY(!m_view->keyField()->isVisible());
    if (browser)
        shelltest::saveScreenshot(m_view.get(), QStringLiteral("sign-in-working"));

    QTest::mouseClick(m_view->cancelButton(), Qt::LeftButton);
    QCOMPARE(m_model->signInState(), SignInState::makeIdle());
    QVERIFY(!m_view->workingBlock()->isVisible());
    QVERIFY(m_view->signInButton()->isVisible());
    if (attempt == "start-up")
        return;
    // The field is still open, with what was typed, for another attempt.
    QVERIFY(m_view->keyField()->isVisible());
    QCOMPARE(m_view->keyField()->text(), browser ? QString() : goodKey);
}

void SignInViewsTest::failedFaceShowsIssueAboveTheButton_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("message");
    QTest::newRow("rejected key") << QStringLiteral("sk-or-v1-wrong") << AppModel::rejectedPastedKey;
    // The service accepts it; there is no keyring to keep it in.
    QTest::newRow("no keyring") << goodKey << AppModel::keyringRefused;
}

void SignInViewsTest::failedFaceShowsIssueAboveTheButton()
{
    QFETCH(QString, key);
    QFETCH(QString, message);
    showView();
    openKeyField();
    typeKey(key);
    QTest::mouseClick(m_view->continueButton(), Qt::LeftButton);
    QVERIFY(testsupport::waitFor([&] { return m_model->signInState().phase == SignInState::failed; }));

    IssueView *issue = m_view->issueView();
    QVERIFY(issue->isVisible());
    QCOMPARE(issue->messageLabel()->text(), message);
    QVERIFY(issue->retryButton() && issue->retryButton()->isVisible());
    QCOMPARE(issue->retryButton()->text(), QStringLiteral("Try again"));
    QVERIFY(!issue->detailsShown());
    QVERIFY(m_view->signInButton()->isVisible());
    QVERIFY(issue->mapTo(m_view.get(), QPoint(0, issue->height())).y()
        <= m_view->signInButton()->mapTo(m_view.get(), QPoint(0, 0)).y());
    // A failed key check keeps the field open with the key for a second try.
    QVERIFY(m_view->keyField()->isVisible());
    QCOMPARE(m_view->keyField()->text(), key);
    QVERIFY(!m_view->workingBlock()->isVisible());
    if (key == goodKey)
        shelltest::saveScreenshot(m_view.get(), QStringLiteral("sign-in-failed"));
}

void SignInViewsTest::tryAgainStartsBrowserSignIn()
{
    showView();
    openKeyField();
    typeKey(QStringLiteral("sk-or-v1-wrong"));
    QTest::keyClick(m_view->keyField(), Qt::Key_Return);
    QVERIFY(testsupport::waitFor([&] { return m_model->signInState().phase == SignInState::failed; }));

    QTest::mouseClick(m_view->issueView()->retryButton(), Qt::LeftButton);
    QCOMPARE(m_model->signInState().phase, SignInState::working);
    QVERIFY(testsupport::waitFor([&] { return !m_browser.opened.isEmpty(); }));
    QCOMPARE(m_browser.opened.first().path(), QStringLiteral("/auth"));
    QVERIFY(!m_view->issueView()->isVisible());
}

void SignInViewsTest::keyFieldKeepsNothingInAccessibility()
{
    showView();
    openKeyField();
    typeKey(goodKey);
    QLineEdit *field = m_view->keyField();
    QCOMPARE(field->accessibleName(), QStringLiteral("OpenRouter API key"));
    QVERIFY(field->accessibleDescription().isEmpty());
    QVERIFY(!field->displayText().contains(goodKey));
    for (const QWidget *widget : m_view->findChildren<QWidget *>()) {
        QVERIFY(!widget->accessibleName().contains(goodKey));
        QVERIFY(!widget->accessibleDescription().contains(goodKey));
        QVERIFY(!widget->toolTip().contains(goodKey));
    }
}

// ---- the issue box ----------------------------------------------------------------

void SignInViewsTest::issueDetailsHiddenUntilShown()
{
    IssueView issue(AppIssue{ QStringLiteral("Nothing answered."), QStringLiteral("HTTP 503") },
        QStringLiteral("Retry"), nullptr);
    issue.resize(420, issue.sizeHint().height());
    issue.show();
    QVERIFY(QTest::qWaitForWindowExposed(&issue));
    QCOMPARE(issue.detailsToggle()->text(), QStringLiteral("Show Details"));
    QVERIFY(!issue.detailsText()->isVisible());

    QTest::mouseClick(issue.detailsToggle(), Qt::LeftButton);
    QVERIFY(issue.detailsShown());
    QVERIFY(issue.detailsText()->isVisible());
    QCOMPARE(issue.detailsText()->text(), QStringLiteral("HTTP 503"));

    QTest::mouseClick(issue.detailsToggle(), Qt::LeftButton);
    QVERIFY(!issue.detailsText()->isVisible());
}

void SignInViewsTest::issueDetailsCanBeCopied()
{
    const QString details = QStringLiteral(
        "HTTP 429 from https://example.test/api/v1/chat/completions: "
        "{\"error\":{\"code\":429,\"message\":\"Rate limit exceeded: free-models-per-min.\"}}");
    IssueView issue(
        AppIssue{
            QStringLiteral("The free models are busy right now. Wait a minute and try again."), details },
        QStringLiteral("Try again"), [] {});
    issue.setFixedWidth(420);
    issue.show();
    QVERIFY(QTest::qWaitForWindowExposed(&issue));
    issue.setDetailsShown(true);
    issue.adjustSize();
    shelltest::saveScreenshot(&issue, QStringLiteral("issue-details"));
    SelectableText *text = issue.detailsText();
    QVERIFY(text->isReadOnly());
    QVERIFY(text->textInteractionFlags() & Qt::TextSelectableByMouse);
    text->setFocus();
    QTest::keyClick(text, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(text, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), details);
    QCOMPARE(text->text(), details);
}

void SignInViewsTest::issueUpdatesInPlace()
{
    int retries = 0;
    IssueView issue(AppIssue{ QStringLiteral("First."), QStringLiteral("one") }, QStringLiteral("Try again"),
        [&retries] { ++retries; });
    issue.show();
    QVERIFY(QTest::qWaitForWindowExposed(&issue));
    issue.setDetailsShown(true);
    // Text from the service is shown as it is, never as markup.
    const AppIssue second{ QStringLiteral("<b>Second</b> & more"), QString() };
    issue.setIssue(second);
    QCOMPARE(issue.issue(), second);
    QCOMPARE(issue.messageLabel()->text(), second.message);
    QCOMPARE(issue.messageLabel()->textFormat(), Qt::PlainText);
    QVERIFY(issue.detailsShown());
    // Empty details still have their toggle and their (empty) box.
    QVERIFY(issue.detailsToggle()->isVisible());
    QVERIFY(issue.detailsText()->isVisible());
    QCOMPARE(issue.detailsText()->text(), QString());
    QTest::mouseClick(issue.retryButton(), Qt::LeftButton);
    QCOMPARE(retries, 1);

    // An issue that names a page to open gets a button for it beside the
    // retry, and loses it again with the next issue.
    QVERIFY(!issue.actionButton()->isVisible());
    const QUrl page(QStringLiteral("https://example.test/settings/privacy"));
    issue.setIssue(AppIssue{ QStringLiteral("Blocked by your settings."), QString(),
        IssueAction{ QStringLiteral("Open Privacy Settings"), page } });
    QPushButton *open = issue.actionButton();
    QVERIFY(shelltest::visibleTexts(&issue).contains(QStringLiteral("Open Privacy Settings")));
    QCOMPARE(open->accessibleName(), QStringLiteral("Open Privacy Settings"));
    QCOMPARE(open->y(), issue.retryButton()->y());
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &m_browser, "open");
    const auto unset = qScopeGuard([] { QDesktopServices::unsetUrlHandler(QStringLiteral("https")); });
    QTest::mouseClick(open, Qt::LeftButton);
    QCOMPARE(m_browser.opened, QList<QUrl>{ page });
    QCOMPARE(retries, 1);
    issue.setIssue(second);
    QVERIFY(!open->isVisible());
    QVERIFY(issue.retryButton()->isVisible());
}

void SignInViewsTest::issueWithoutRetryHasNoButton()
{
    IssueView issue(
        AppIssue{ QStringLiteral("Gone."), QStringLiteral("404") }, QStringLiteral("Try again"), nullptr);
    issue.show();
    QVERIFY(QTest::qWaitForWindowExposed(&issue));
    QVERIFY(!issue.retryButton());
    QVERIFY(!shelltest::visibleTexts(&issue).contains(QStringLiteral("Try again")));
}

void SignInViewsTest::longDetailsWrapInsteadOfWidening()
{
    const QString token = QStringLiteral("x").repeated(600);
    IssueView issue(AppIssue{ QStringLiteral("Failed."), token }, QString(), nullptr);
    issue.setDetailsShown(true);
    QVERIFY(issue.minimumSizeHint().width() < 420);
    issue.setFixedWidth(420);
    issue.show();
    QVERIFY(QTest::qWaitForWindowExposed(&issue));
    SelectableText *text = issue.detailsText();
    const int lineHeight = text->fontMetrics().lineSpacing();
    QVERIFY(text->width() < 420);
    QVERIFY(text->heightForWidth(text->width()) > 4 * lineHeight);
    QTRY_COMPARE_WITH_TIMEOUT(text->height(), text->heightForWidth(text->width()), 30000);
}

QTEST_MAIN(SignInViewsTest)
#include "test_signin_views.moc"
