// Light and dark switched while the window is up: every text a person reads
// keeps its contrast against what is really behind it on screen, read from
// the grabbed pixels of the whole window.

#include "FakeFixtures.h"
#include "RootScene.h"
#include "TestSupport.h"
#include "UiHarness.h"
#include "ui/conversation/ConversationView.h"
#include "ui/conversation/MessageColumn.h"
#include "ui/input/GrowingTextView.h"
#include "ui/input/InputBar.h"
#include "ui/markdown/AnswerView.h"
#include "ui/settings/SettingsView.h"
#include "ui/sidebar/SidebarView.h"
#include "ui/signin/SignInView.h"
#include "ui/style/Contrast.h"
#include "ui/widgets/IssueView.h"

#include <QAbstractButton>
#include <QApplication>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QStyle>
#include <QTest>
#include <QTextEdit>
#include <QToolButton>

using namespace uikit;
using testsupport::waitFor;

namespace {

const ORModel alpha{ "vendor/alpha:free", "Alpha", 32000, false };
const ORModel beta{ "vendor/beta:free", "Beta", 32000, false };

// Body text must reach 4.5:1 against its background, secondary text 3:1.
constexpr double bodyContrast = Contrast::body;
constexpr double secondaryContrast = Contrast::secondary;

// The contrast of what is drawn in area of the window's picture: the most
// common colour there is the background, and the pixel farthest from it is
// the text (glyph stems reach the text's own colour).
double contrastIn(const QImage &window, const QRect &area)
{
    QHash<QRgb, int> counts;
    const QRect box = area.intersected(window.rect());
    for (int y = box.top(); y <= box.bottom(); ++y) {
        for (int x = box.left(); x <= box.right(); ++x)
            ++counts[window.pixel(x, y) | 0xff000000u];
    }
    QRgb background = 0;
    int most = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > most) {
            most = it.value();
            background = it.key();
        }
    }
    double best = 1.0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        best = std::max(best, Contrast::ratio(QColor(background), QColor(it.key())));
    return best;
}

QPalette lightPalette()
{
    return QApplication::style()->standardPalette();
}

// A text to look at: where it is on screen, and how much contrast it needs.
struct Seen {
    Seen(const char *what, QWidget *widget, QRect area = {}, double needed = bodyContrast)
        : what(QString::fromLatin1(what))
        , widget(widget)
        , area(area)
        , needed(needed)
    {
    }
    QString what;
    QWidget *widget;
    QRect area; // in the widget; the whole widget when empty
    double needed;
};

QLabel *labelWith(QWidget *root, const QString &text)
{
    const QList<QLabel *> labels = root->findChildren<QLabel *>();
    for (QLabel *label : labels) {
        if (label->isVisible() && label->text().contains(text))
            return label;
    }
    return nullptr;
}

// A text a person can select (a question).
QWidget *selectableWith(QWidget *root, const QString &text)
{
    const QList<QTextEdit *> views = root->findChildren<QTextEdit *>();
    for (QTextEdit *view : views) {
        if (view->isVisible() && view->toPlainText().contains(text))
            return view;
    }
    return nullptr;
}

// Text in an answer, seen where the answer shows it.
Seen inAnswer(const char *what, QWidget *root, const QString &text, double needed = bodyContrast)
{
    const QList<AnswerView *> answers = root->findChildren<AnswerView *>();
    for (AnswerView *answer : answers) {
        const int at = int(answer->toPlainText().indexOf(text));
        if (answer->isVisible() && at >= 0) {
            const QRect area
                = answer->characterRect(at).united(answer->characterRect(at + int(text.size()) - 1));
            return Seen(what, answer, area, needed);
        }
    }
    return Seen(what, nullptr);
}

QAbstractButton *buttonWith(QWidget *root, const QString &text)
{
    const QList<QAbstractButton *> buttons = root->findChildren<QAbstractButton *>();
    for (QAbstractButton *button : buttons) {
        if (button->isVisible() && button->text() == text)
            return button;
    }
    return nullptr;
}

// Each text, under light, then dark, then light again: a view that only
// reads the palette when it is built fails on the way there or back.
QStringList failures(QWidget *window, const QList<Seen> &texts)
{
    QStringList failed;
    const QList<std::pair<const char *, QPalette>> palettes{
        { "light", lightPalette() },
        { "dark", darkPalette() },
        { "light again", lightPalette() },
    };
    for (const auto &[name, palette] : palettes) {
        QApplication::setPalette(palette);
        QCoreApplication::sendPostedEvents();
        const QImage shot = window->grab().toImage();
        for (const Seen &text : texts) {
            if (!text.widget) {
                failed.append(text.what + QStringLiteral(": not found"));
                continue;
            }
            const QRect local = text.area.isEmpty() ? text.widget->rect() : text.area;
            const QRect area(text.widget->mapTo(window, local.topLeft()), local.size());
            const double ratio = contrastIn(shot, area);
            if (ratio < text.needed)
                failed.append(QStringLiteral("%1 (%2): %3:1")
                                  .arg(text.what, QLatin1String(name))
                                  .arg(ratio, 0, 'f', 2));
        }
    }
    QApplication::setPalette(lightPalette());
    return failed;
}

} // namespace

class ThemeSwitchTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void chatWindowFollowsTheTheme()
    {
        RootScene s({ alpha, beta });
        QWidget *window = s.root.get();
        const QList<Seen> empty{
            { "empty state title", labelWith(window, "How can I help?") },
            { "empty state subtitle", labelWith(window, "Ask anything."), {}, secondaryContrast },
            { "no chats yet", s.root->sidebar()->emptyLabel(), {}, secondaryContrast },
        };
        QStringList failed = failures(window, empty);

        s.fake.enqueueChat(alpha.id, fake::replies::providerError(503));
        s.fake.enqueueChat(beta.id,
            heldStream(beta.id,
                { QStringLiteral(
                    "Hello there, in plain words.\n\n> A quote to read.\n\n```\nint code = 1;\n```\n") },
                0));
        s.vm().setDraft(QStringLiteral("Hi there"));
        s.vm().send();
        QVERIFY(waitFor([&] { return s.vm().status() == ChatViewModel::switching; }));
        QVERIFY(waitFor([&] { return labelWith(window, "Thinking") != nullptr; }));
        failed += failures(window, { { "thinking", labelWith(window, "Thinking"), {}, secondaryContrast } });
        QVERIFY(s.releaseUntilIdle());

        QListView *chats = s.root->sidebar()->list();
        QVERIFY(waitFor([&] { return chats->model()->rowCount() == 1; }));
        MessageColumn *column = s.root->conversation()->column();
        failed += failures(window,
            {
                { "user bubble", selectableWith(column, "Hi there") },
                inAnswer("answer", column, "in plain words"),
                inAnswer("quote", column, "A quote to read", secondaryContrast),
                inAnswer("code", column, "int code"),
                { "footer", labelWith(column, "answered by"), {}, secondaryContrast },
            });

        s.fake.onAnyChat(fake::replies::providerError(503));
        s.vm().setDraft(QStringLiteral("Again"));
        s.vm().send();
        QVERIFY(s.waitIdle());
        QVERIFY(column->issueView());
        failed += failures(window,
            {
                { "issue", column->issueView()->messageLabel() },
                { "show details", column->issueView()->detailsToggle(), {}, secondaryContrast },
                { "try again", buttonWith(column->issueView(), "Try again") },
            });

        // A new chat: the stored one is listed, not selected.
        s.vm().newChat();
        QVERIFY(waitFor([&] { return chats->selectionModel()->selectedIndexes().isEmpty(); }));
        failed += failures(window,
            {
                { "chat title", chats->viewport(), chats->visualRect(chats->model()->index(0, 0)) },
                { "empty state title", labelWith(window, "How can I help?") },
                { "placeholder", s.root->conversation()->inputBar()->editor(), {}, secondaryContrast },
            });
        QVERIFY2(failed.isEmpty(), qPrintable(failed.join(QStringLiteral("\n"))));
    }

    // The marks of a search read in both palettes, and so does the query;
    // with TOLVI_SCREENSHOT_DIR set, both are saved as pictures.
    void searchMarksFollowTheTheme()
    {
        RootScene s({ alpha });
        const QList<QStringList> chats{
            { "Weekend in Lisbon", "What should I see in two days?", "Start in **Alfama** at dawn." },
            { "Crème brûlée at home", "Can I make crème brûlée without a torch?",
                "Yes. Chill the **crème brûlée** well, sugar it thinly, and put it under a hot grill "
                "for two minutes.\n\n> Creme caramel is another dessert: it is baked with its caramel." },
            { "Dessert for eight", "A dessert for eight that waits in the fridge?",
                "A tiramisu, or a **crème** au chocolat made the day before." },
            { "Tax return questions", "When is the deadline?", "Usually the end of April." },
        };
        for (const QStringList &texts : chats) {
            Chat chat;
            chat.title = texts[0];
            for (const QString &role : { QStringLiteral("user"), QStringLiteral("assistant") }) {
                ChatMessage m;
                m.role = role;
                m.text = texts[role == QLatin1String("user") ? 1 : 2];
                chat.messages.append(m);
            }
            s.app->store().save(chat);
        }
        SidebarView *sidebar = s.root->sidebar();
        QListView *list = sidebar->list();
        QVERIFY(waitFor([&] { return list->model()->rowCount() == 4; }));
        QTest::keyClicks(sidebar->searchField(), QStringLiteral("creme"));
        QVERIFY(waitFor([&] { return list->model()->rowCount() == 2; }));
        QTest::mouseClick(
            list->viewport(), Qt::LeftButton, {}, list->visualRect(list->model()->index(1, 0)).center());
        QCOMPARE(s.vm().chat().title, QStringLiteral("Crème brûlée at home"));
        QWidget *window = s.root.get();
        QVERIFY(waitFor([&] { return selectableWith(window, "without a torch") != nullptr; }));

        const QStringList failed = failures(window,
            {
                inAnswer("mark", window, "crème brûlée well"),
                { "query", sidebar->searchField() },
            });
        QVERIFY2(failed.isEmpty(), qPrintable(failed.join(QStringLiteral("\n"))));
        for (const auto &[name, palette] :
            { std::pair{ "search-dark", darkPalette() }, std::pair{ "search-light", lightPalette() } }) {
            QApplication::setPalette(palette);
            QCoreApplication::sendPostedEvents();
            saveScreenshot(window->grab().toImage(), QString::fromLatin1(name));
        }
    }

    void signInSettingsAndIssueFollowTheTheme()
    {
        RootScene s({ alpha });
        s.app->signOut(); // the sign-in screen, with the notice below
        SignInView signIn(*s.app);
        signIn.resize(760, 520);
        signIn.show();
        SettingsView settings;
        settings.show();
        IssueView issue(AppIssue{ QStringLiteral("Something failed."), QStringLiteral("HTTP 500: details") },
            QStringLiteral("Try again"), [] {});
        issue.resize(420, 200);
        issue.show();
        QVERIFY(QTest::qWaitForWindowExposed(&issue));
        QStringList failed = failures(&signIn,
            {
                { "title", labelWith(&signIn, "Tolvi") },
                { "subtitle", labelWith(&signIn, "Free AI chat"), {}, secondaryContrast },
                { "sign in", buttonWith(&signIn, "Sign in with OpenRouter") },
                { "key link", buttonWith(&signIn, "Use my own API key") },
            });
        failed += failures(&settings,
            {
                { "settings title", labelWith(&settings, "Settings") },
                { "prompt note", labelWith(&settings, "Sent with every message"), {}, secondaryContrast },
                { "shortcut", labelWith(&settings, "Control-Alt-Space") },
            });
        failed += failures(&issue,
            {
                { "issue", issue.messageLabel() },
                { "show details", issue.detailsToggle(), {}, secondaryContrast },
            });
        QVERIFY2(failed.isEmpty(), qPrintable(failed.join(QStringLiteral("\n"))));
    }
};

QTEST_MAIN(ThemeSwitchTest)
#include "test_theme_switch.moc"
