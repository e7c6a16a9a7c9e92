// The model menu: the closed button's dot and label, the items with their
// check marks and cooling suffix, the ranker's note, and the refresh item.

#include "FakeFixtures.h"
#include "TestSupport.h"
#include "UiHarness.h"
#include "ui/modelmenu/ModelMenu.h"

#include <QMenu>
#include <QSignalSpy>
#include <QTest>

using namespace uikit;
using testsupport::waitFor;

namespace {

const ORModel alpha = model("vendor/alpha:free", "Alpha");
const ORModel beta = model("vendor/beta:free", "Beta & Co");
const ORModel gammaModel = model("other/gammaModel:free", "Gamma");

struct Item {
    QString text; // as shown
    bool enabled = true;
    bool checked = false;
    bool separator = false;
};

QList<Item> items(ModelMenu &menu)
{
    menu.rebuildMenu();
    QList<Item> list;
    for (const QAction *action : menu.itemsMenu()->actions())
        list.append(
            { shownText(action->text()), action->isEnabled(), action->isChecked(), action->isSeparator() });
    return list;
}

QStringList shown(ModelMenu &menu)
{
    QStringList texts;
    for (const Item &item : items(menu))
        texts.append(item.separator ? QStringLiteral("---") : item.text);
    return texts;
}

QStringList checkedItems(ModelMenu &menu)
{
    QStringList texts;
    for (const Item &item : items(menu)) {
        if (item.checked)
            texts.append(item.text);
    }
    return texts;
}

QStringList menuTextsNow(const QMenu *menu)
{
    QStringList texts;
    for (const QAction *a : menu->actions())
        texts.append(shownText(a->text()));
    return texts;
}

QAction *action(ModelMenu &menu, const QString &text)
{
    menu.rebuildMenu();
    for (QAction *a : menu.itemsMenu()->actions()) {
        if (shownText(a->text()) == text)
            return a;
    }
    return nullptr;
}

QColor dotColour(const ModelMenu &menu)
{
    return menu.icon().pixmap(QSize(8, 8)).toImage().pixelColor(4, 4);
}

struct Scene {
    Scene()
        : menu(*h.vm, *h.ranker, [this] { ++refreshes; })
    {
        h.useModels({ alpha, beta, gammaModel });
        menu.show();
    }
    Harness h;
    int refreshes = 0;
    ModelMenu menu;
};

} // namespace

class ModelMenuTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void itemsInOrder()
    {
        Scene s;
        QCOMPARE(shown(s.menu),
            (QStringList{ "Auto (fastest free)", "---", "Free models", "Alpha", "Beta & Co", "Gamma", "---",
                "Refresh list", "Show Model Ladder…" }));
        QCOMPARE(checkedItems(s.menu), QStringList{ "Auto (fastest free)" });
        QVERIFY(!action(s.menu, "Free models")->isEnabled());
        QSignalSpy ladder(&s.menu, &ModelMenu::ladderRequested);
        action(s.menu, "Show Model Ladder…")->trigger();
        QCOMPARE(ladder.size(), 1);
    }

    void buttonLabel_data()
    {
        QTest::addColumn<std::optional<QString>>("pinned");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QStringList>("checked");
        QTest::newRow("automatic") << std::optional<QString>() << "Auto (fastest free)"
                                   << QStringList{ "Auto (fastest free)" };
        QTest::newRow("a listed model")
            << std::optional<QString>(beta.id) << "Beta & Co" << QStringList{ "Beta & Co" };
        QTest::newRow("a model that left the list")
            << std::optional<QString>("vendor/gone-model:free") << "gone-model" << QStringList{};
        QTest::newRow("a trailing slash")
            << std::optional<QString>("vendor/old:free/") << "old" << QStringList{};
        QTest::newRow("no slash") << std::optional<QString>("lonely:free") << "lonely" << QStringList{};
        QTest::newRow("the free router")
            << std::optional<QString>(ModelRanker::routerId) << "Free Models Router" << QStringList{};
    }

    void buttonLabel()
    {
        QFETCH(std::optional<QString>, pinned);
        QFETCH(QString, label);
        QFETCH(QStringList, checked);
        Scene s;
        s.h.vm->pin(pinned);
        QCOMPARE(s.menu.label(), label);
        QCOMPARE(shownText(s.menu.text()), label); // an "&" shows as itself
        QCOMPARE(checkedItems(s.menu), checked);
    }

    void choosingItemsPinsAndUnpins()
    {
        Scene s;
        action(s.menu, "Gamma")->trigger();
        QCOMPARE(s.h.vm->chat().pinnedModel, std::optional<QString>(gammaModel.id));
        QCOMPARE(s.menu.label(), QStringLiteral("Gamma"));
        action(s.menu, "Auto (fastest free)")->trigger();
        QCOMPARE(s.h.vm->chat().pinnedModel, std::optional<QString>());
        QCOMPARE(s.menu.label(), QStringLiteral("Auto (fastest free)"));
    }

    void coolingModelsSaySo()
    {
        Scene s;
        s.h.ranker->cool(alpha.id, 600);
        s.h.ranker->cool(beta.id, 600);
        s.h.vm->pin(beta.id);
        const QStringList texts = shown(s.menu);
        QVERIFY(texts.contains("Alpha (cooling down)"));
        QVERIFY(texts.contains("Beta & Co")); // pinned: the check mark, no suffix
        QVERIFY(texts.contains("Gamma"));
        QCOMPARE(checkedItems(s.menu), QStringList{ "Beta & Co" });
    }

    void currentModelAfterAnAnswer()
    {
        Scene s;
        s.h.exchange("hello", alpha.id, "Hi");
        const QStringList texts = shown(s.menu);
        QCOMPARE(texts.mid(0, 3), (QStringList{ "Auto (fastest free)", "Current: Alpha", "---" }));
        QVERIFY(!action(s.menu, "Current: Alpha")->isEnabled());
    }

    void refreshingThenTheNote()
    {
        Scene s;
        fake::Reply failure = fake::Reply::error(500, QStringLiteral("Internal error"));
        failure.holdHead = true;
        s.h.fake.on("GET", "/api/v1/models", failure);
        s.h.ranker->refresh(QStringLiteral("sk-or-v1-test"), true);
        QVERIFY(s.h.ranker->isRefreshing());
        QCOMPARE(shown(s.menu).mid(shown(s.menu).size() - 2),
            (QStringList{ "Refreshing…", "Show Model Ladder…" }));
        QVERIFY(!action(s.menu, "Refreshing…")->isEnabled());

        QVERIFY(waitFor([&] { return s.h.fake.release(); }));
        QVERIFY(waitFor([&] { return !s.h.ranker->isRefreshing(); }));
        QVERIFY(s.h.ranker->note().has_value());
        const QStringList texts = shown(s.menu);
        const qsizetype n = texts.size();
        QCOMPARE(texts.mid(n - 5),
            (QStringList{ "---", *s.h.ranker->note(), "---", "Refresh list", "Show Model Ladder…" }));
        QVERIFY(!action(s.menu, *s.h.ranker->note())->isEnabled());

        action(s.menu, "Refresh list")->trigger();
        QCOMPARE(s.refreshes, 1);
    }

    void statusDot()
    {
        Scene s;
        const QColor green = dotColour(s.menu);
        QVERIFY(green.green() > green.red());
        // The first model fails, the second is held: switching.
        s.h.fake.enqueueChat(alpha.id, fake::replies::providerError(503));
        s.h.fake.enqueueChat(beta.id, heldStream(beta.id, { "ok" }, 0));
        s.h.say("hello");
        QVERIFY(waitFor([&] { return s.h.vm->status() == ChatViewModel::switching; }));
        const QColor yellow = dotColour(s.menu);
        QVERIFY(yellow.red() > 200 && yellow.green() > 150 && yellow.blue() < 100);
        QVERIFY(s.h.releaseUntilIdle());
        QCOMPARE(dotColour(s.menu), green);

        s.h.fake.onAnyChat(fake::replies::providerError(503));
        s.h.say("again");
        QVERIFY(s.h.waitIdle());
        QCOMPARE(s.h.vm->status(), ChatViewModel::failing);
        const QColor red = dotColour(s.menu);
        QVERIFY(red.red() > 200 && red.green() < 100);
    }

    void aClickPopsTheMenuUpAndReturns()
    {
        Scene s;
        s.h.ranker->cool(alpha.id, 600);
        QTest::mouseClick(&s.menu, Qt::LeftButton);
        QMenu *items = s.menu.itemsMenu();
        QVERIFY(waitFor([&] { return items->isVisible(); }));
        QVERIFY(s.menu.isDown());
        // Built as it showed, from the state of that moment.
        QVERIFY(menuTextsNow(items).contains(QStringLiteral("Alpha (cooling down)")));
        items->hide();
        QVERIFY(!s.menu.isDown());
    }

    void escapesMnemonics()
    {
        QCOMPARE(ModelMenu::escapeMnemonics("A & B && C"), QStringLiteral("A && B &&&& C"));
        QCOMPARE(
            ModelMenu::escapeMnemonics("Evil\tCtrl+Q\n<b>x</b>"), QStringLiteral("Evil Ctrl+Q <b>x</b>"));
    }
};

QTEST_MAIN(ModelMenuTest)
#include "test_model_menu.moc"
