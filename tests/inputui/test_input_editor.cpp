// The message editor: keys, input methods, paste, its height, and its
// binding to the controller's draft and focus token.

#include "InputTestKit.h"
#include "core/images/ImageFile.h"
#include "ui/input/GrowingTextView.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QLayout>
#include <QLineEdit>
#include <QMimeData>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <sys/stat.h>

using inputkit::BarFixture;

namespace {

int userMessages(const ChatViewModel &vm)
{
    int count = 0;
    for (const ChatMessage &m : vm.chat().messages)
        count += m.role == QLatin1String("user") ? 1 : 0;
    return count;
}

void compose(QWidget *editor, const QString &preedit, const QString &commit = {})
{
    QInputMethodEvent event(preedit, {});
    if (!commit.isEmpty())
        event.setCommitString(commit);
    QCoreApplication::sendEvent(editor, &event);
}

} // namespace

class InputEditorTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void returnKeys_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("sends");
        QTest::newRow("Return") << int(Qt::Key_Return) << int(Qt::NoModifier) << true;
        QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << true;
        QTest::newRow("Control-Return") << int(Qt::Key_Return) << int(Qt::ControlModifier) << true;
        QTest::newRow("Shift-Return") << int(Qt::Key_Return) << int(Qt::ShiftModifier) << false;
        QTest::newRow("Alt-Return") << int(Qt::Key_Return) << int(Qt::AltModifier) << false;
        QTest::newRow("Shift-Enter") << int(Qt::Key_Enter) << int(Qt::ShiftModifier | Qt::KeypadModifier)
                                     << false;
    }
    void returnKeys()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(bool, sends);
        BarFixture f;
        f.h.useModels({ convkit::model(QStringLiteral("a/alpha:free"), QStringLiteral("Alpha")) });
        f.type(QStringLiteral("Hi"));

        QTest::keyClick(f.bar->editor(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));

        QCOMPARE(userMessages(*f.h.vm), sends ? 1 : 0);
        if (sends) {
            QCOMPARE(f.h.vm->chat().messages.first().text, QStringLiteral("Hi"));
            QCOMPARE(f.bar->editor()->text(), QString());
        } else {
            // A line break and nothing else: the key's own text is not typed.
            QCOMPARE(f.bar->editor()->text(), QStringLiteral("Hi\n"));
            QCOMPARE(f.h.vm->draft(), QStringLiteral("Hi\n"));
        }
        QVERIFY(f.h.waitIdle());
    }

    void returnWhileComposingBelongsToTheInputMethod()
    {
        BarFixture f;
        f.h.useModels({ convkit::model(QStringLiteral("a/alpha:free"), QStringLiteral("Alpha")) });
        f.type(QStringLiteral("Hi "));
        auto *editor = f.bar->editor();
        compose(editor, QStringLiteral("nihon"));
        QVERIFY(editor->isComposing());

        QTest::keyClick(editor, Qt::Key_Return);
        QCOMPARE(userMessages(*f.h.vm), 0);

        compose(editor, QString(), QStringLiteral("日本"));
        QVERIFY(!editor->isComposing());
        QVERIFY(f.h.vm->draft().endsWith(QStringLiteral("日本")));
        QTest::keyClick(editor, Qt::Key_Return);
        QCOMPARE(userMessages(*f.h.vm), 1);
        QVERIFY(f.h.waitIdle());
    }

    void pasteTextWithImagePastesText()
    {
        BarFixture f;
        auto *mime = new QMimeData;
        mime->setText(QStringLiteral("caption"));
        mime->setImageData(inputkit::filled({ 40, 30 }, Qt::red));
        QGuiApplication::clipboard()->setMimeData(mime);

        f.bar->editor()->paste();

        QCOMPARE(f.bar->editor()->text(), QStringLiteral("caption"));
        QCOMPARE(f.h.vm->draft(), QStringLiteral("caption"));
        QVERIFY(f.h.vm->attachments().isEmpty());
    }

    void pasteOfImagesInsertsNothing_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("attached");
        QTest::newRow("image file") << "file" << 1;
        // File managers put the path beside the URL.
        QTest::newRow("image file with its path as text") << "file and path" << 1;
        QTest::newRow("image data") << "data" << 1;
        // Named as a picture, so taken for one; opening it would wait for a
        // writer for ever.
        QTest::newRow("named pipe") << "pipe" << 0;
    }
    void pasteOfImagesInsertsNothing()
    {
        QFETCH(QString, kind);
        QFETCH(int, attached);
        BarFixture f;
        f.type(QStringLiteral("look"));
        auto *mime = new QMimeData;
        if (kind == QLatin1String("data")) {
            mime->setImageData(inputkit::filled({ 64, 48 }, Qt::blue));
        } else if (kind == QLatin1String("pipe")) {
            const QString path = f.files.filePath(QStringLiteral("pipe.png"));
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
            mime->setUrls({ QUrl::fromLocalFile(path) });
        } else {
            const QString path
                = inputkit::writePng(f.files, QStringLiteral("shot.png"), { 64, 48 }, Qt::blue);
            mime->setUrls({ QUrl::fromLocalFile(path) });
            if (kind == QLatin1String("file and path"))
                mime->setText(path);
        }
        QGuiApplication::clipboard()->setMimeData(mime);

        f.bar->editor()->paste();

        QTRY_COMPARE(f.bar->pendingDrops(), 0);
        QCOMPARE(f.h.vm->attachments().size(), attached);
        QCOMPARE(f.bar->editor()->text(), QStringLiteral("look"));
    }

    // A file on a network mount that stopped answering, played by a stalled
    // read of a regular file.
    void pasteOfAStalledFileLeavesTheEditorWorking()
    {
        BarFixture f;
        const QString path = inputkit::writePng(f.files, QStringLiteral("far.png"), { 64, 48 }, Qt::blue);
        QGuiApplication::clipboard()->setMimeData(inputkit::filesMime({ path }).release());
        ImageFile::Stall stall;

        f.bar->editor()->paste();
        QTRY_COMPARE(stall.waiting(), 1);
        f.type(QStringLiteral("still typing"));
        QCOMPARE(f.h.vm->draft(), QStringLiteral("still typing"));
        QVERIFY(f.h.vm->attachments().isEmpty());

        stall.release();
        QTRY_COMPARE(f.h.vm->attachments().size(), 1);
    }

    void pasteOfAFileThatIsNoImageInsertsItsText()
    {
        BarFixture f;
        const QString path = f.files.filePath(QStringLiteral("notes.txt"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not an image");
        file.close();
        auto *mime = new QMimeData;
        mime->setUrls({ QUrl::fromLocalFile(path) });
        mime->setText(path);
        QGuiApplication::clipboard()->setMimeData(mime);

        f.bar->editor()->paste();

        QVERIFY(f.h.vm->attachments().isEmpty());
        QCOMPARE(f.bar->editor()->text(), path);
    }

    void growsToTheLimitThenScrollsAndShrinksBack()
    {
        BarFixture f;
        QVERIFY(f.showActive());
        auto *editor = f.bar->editor();
        QTRY_COMPARE(editor->height(), 28);

        int previous = editor->height();
        bool grewEveryLineUntilTheLimit = true;
        for (int line = 1; line <= 10; ++line) {
            if (line > 1)
                QTest::keyClick(editor, Qt::Key_Return, Qt::ShiftModifier);
            f.type(QStringLiteral("line %1").arg(line));
            f.settle();
            if (line > 1 && previous < 160 && editor->height() <= previous)
                grewEveryLineUntilTheLimit = false;
            previous = editor->height();
            QVERIFY(editor->height() <= 160);
        }
        QVERIFY(grewEveryLineUntilTheLimit);
        QCOMPARE(editor->height(), 160);
        QVERIFY(editor->verticalScrollBar()->maximum() > 0);
        QVERIFY(editor->measuredHeight() > 160);

        editor->selectAll();
        QTest::keyClick(editor, Qt::Key_Delete);
        f.settle();
        QTRY_COMPARE(editor->height(), 28);
        QCOMPARE(f.h.vm->draft(), QString());
    }

    void longLineWrapsAndGrows()
    {
        BarFixture f(300);
        QVERIFY(f.showActive());
        auto *editor = f.bar->editor();
        f.type(QStringLiteral("word ").repeated(12));
        f.settle();
        QTRY_VERIFY(editor->height() > 28);
        // Wider, the same text takes fewer lines.
        const int narrow = editor->height();
        f.window.resize(900, 320);
        f.settle();
        QTRY_VERIFY(editor->height() < narrow);
    }

    void followsTheDraftWithoutEcho()
    {
        BarFixture f;
        auto *editor = f.bar->editor();
        QSignalSpy drafts(f.h.vm.get(), &ChatViewModel::draftChanged);

        f.type(QStringLiteral("abcd"));
        QCOMPARE(drafts.size(), 4);
        QCOMPARE(f.h.vm->draft(), QStringLiteral("abcd"));

        // Typing in the middle keeps the cursor where it is.
        QTest::keyClick(editor, Qt::Key_Left);
        QTest::keyClick(editor, Qt::Key_Left);
        f.type(QStringLiteral("X"));
        QCOMPARE(f.h.vm->draft(), QStringLiteral("abXcd"));
        QCOMPARE(editor->textCursor().position(), 3);

        // The controller's text replaces the editor's, cursor at its end.
        f.h.vm->setDraft(QStringLiteral("from elsewhere\u00a0ok"));
        QCOMPARE(editor->text(), QStringLiteral("from elsewhere\u00a0ok"));
        QCOMPARE(editor->textCursor().position(), editor->text().size());
        QCOMPARE(f.h.vm->draft(), QStringLiteral("from elsewhere\u00a0ok"));

        // Another chat empties it; undo does not bring the old text back.
        f.h.vm->newChat();
        QCOMPARE(editor->text(), QString());
        QTest::keyClick(editor, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(editor->text(), QString());
        QCOMPARE(f.h.vm->draft(), QString());
    }

    void takesFocusWhenShownAndOnEachFocusToken()
    {
        BarFixture f;
        auto *other = new QLineEdit(&f.window);
        f.window.layout()->addWidget(other);
        QVERIFY(f.showActive());
        QTRY_VERIFY(f.bar->editor()->hasFocus());

        other->setFocus();
        QTRY_VERIFY(other->hasFocus());
        f.h.vm->requestFocus();
        QVERIFY(other->hasFocus()); // deferred to the next turn of the loop
        QTRY_VERIFY(f.bar->editor()->hasFocus());

        other->setFocus();
        f.h.vm->newChat();
        QTRY_VERIFY(f.bar->editor()->hasFocus());
    }
};

QTEST_MAIN(InputEditorTest)
#include "test_input_editor.moc"
