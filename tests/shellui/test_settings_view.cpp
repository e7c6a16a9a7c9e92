// The settings dialog: the system prompt reaches the settings file with
// every edit, the shortcut warning follows the hot-key status while the
// dialog is open, and Return closes the dialog except inside the editor.
#include "ShellTestKit.h"
#include "core/hotkey/HotKeyStatus.h"
#include "ui/settings/SettingsView.h"

#include <QFile>
#include <QLabel>
#include <QLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

namespace {

QSettings tolviSettings()
{
    return QSettings(QStringLiteral("Tolvi"), QStringLiteral("Tolvi"));
}

// What another process would read: the file itself, not this process's cache.
QString promptOnDisk()
{
    const QString path = tolviSettings().fileName();
    return QSettings(path, QSettings::IniFormat).value(QStringLiteral("systemPrompt")).toString();
}

} // namespace

class SettingsViewTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void opensWithTheStoredPrompt();
    void everyEditIsStoredAtOnce();
    void warningFollowsHotKeyStatus();
    void returnOutsideTheEditorCloses_data();
    void returnOutsideTheEditorCloses();
    void returnInsideTheEditorBreaksTheLine();

private:
    void open(SettingsView &view);
};

void SettingsViewTest::init()
{
    tolviSettings().clear();
    HotKeyStatus::shared().setRegistered(true);
}

void SettingsViewTest::cleanup()
{
    HotKeyStatus::shared().setRegistered(true);
}

void SettingsViewTest::open(SettingsView &view)
{
    view.open();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
}

void SettingsViewTest::opensWithTheStoredPrompt()
{
    tolviSettings().setValue(QStringLiteral("systemPrompt"), QStringLiteral("Answer in Finnish.\nBe brief."));
    SettingsView view;
    QCOMPARE(view.promptEditor()->toPlainText(), QStringLiteral("Answer in Finnish.\nBe brief."));
    // Opening writes nothing back.
    QCOMPARE(promptOnDisk(), QStringLiteral("Answer in Finnish.\nBe brief."));
}

void SettingsViewTest::everyEditIsStoredAtOnce()
{
    SettingsView view;
    open(view);
    QPlainTextEdit *editor = view.promptEditor();
    editor->setFocus();
    QTest::keyClicks(editor, QStringLiteral("Be"));
    QCOMPARE(promptOnDisk(), QStringLiteral("Be"));
    QTest::keyClicks(editor, QStringLiteral(" kind"));
    QCOMPARE(promptOnDisk(), QStringLiteral("Be kind"));
    QCOMPARE(tolviSettings().value(QStringLiteral("systemPrompt")).toString(), QStringLiteral("Be kind"));

    editor->selectAll();
    QTest::keyClick(editor, Qt::Key_Delete);
    QCOMPARE(promptOnDisk(), QString());
    QVERIFY(view.isVisible());
}

void SettingsViewTest::warningFollowsHotKeyStatus()
{
    const QString warning
        = QStringLiteral("This shortcut couldn't be registered. Another app is probably using it.");
    SettingsView view;
    open(view);
    QVERIFY(!shelltest::visibleTexts(&view).contains(warning));
    QVERIFY(shelltest::visibleTexts(&view).contains(
        QStringLiteral("Control-Alt-Space shows Tolvi from anywhere.")));
    const int heightWithout = view.height();

    HotKeyStatus::shared().setRegistered(false);
    QVERIFY(view.hotKeyWarning()->isVisible());
    QCOMPARE(view.hotKeyWarning()->text(), warning);
    // The dialog grows to hold the warning, and shrinks back without it.
    QCOMPARE(view.height(), view.layout()->totalHeightForWidth(view.width()));
    QVERIFY(view.height() > heightWithout);
    shelltest::saveScreenshot(&view, QStringLiteral("settings-shortcut-taken"));

    HotKeyStatus::shared().setRegistered(true);
    QVERIFY(!view.hotKeyWarning()->isVisible());
    QCOMPARE(view.height(), heightWithout);
}

void SettingsViewTest::returnOutsideTheEditorCloses_data()
{
    QTest::addColumn<int>("key");
    QTest::newRow("Return") << int(Qt::Key_Return);
    QTest::newRow("Enter") << int(Qt::Key_Enter);
}

void SettingsViewTest::returnOutsideTheEditorCloses()
{
    QFETCH(int, key);
    SettingsView view;
    QSignalSpy finished(&view, &QDialog::finished);
    open(view);
    shelltest::saveScreenshot(&view, QStringLiteral("settings"));
    QVERIFY(view.doneButton()->isDefault());
    QTRY_VERIFY_WITH_TIMEOUT(view.doneButton()->hasFocus(), 30000);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.first().first().toInt(), int(QDialog::Accepted));
    QVERIFY(!view.isVisible());
}

void SettingsViewTest::returnInsideTheEditorBreaksTheLine()
{
    SettingsView view;
    QSignalSpy finished(&view, &QDialog::finished);
    open(view);
    QPlainTextEdit *editor = view.promptEditor();
    editor->setFocus();
    QTRY_VERIFY_WITH_TIMEOUT(editor->hasFocus(), 30000);
    QTest::keyClicks(editor, QStringLiteral("One"));
    QTest::keyClick(editor, Qt::Key_Return);
    QTest::keyClicks(editor, QStringLiteral("Two"));
    QCOMPARE(editor->toPlainText(), QStringLiteral("One\nTwo"));
    QCOMPARE(promptOnDisk(), QStringLiteral("One\nTwo"));
    QCOMPARE(finished.count(), 0);
    QVERIFY(view.isVisible());

    // Clicking Done closes it whatever has the focus.
    QTest::mouseClick(view.doneButton(), Qt::LeftButton);
    QCOMPARE(finished.count(), 1);
}

QTEST_MAIN(SettingsViewTest)
#include "test_settings_view.moc"
