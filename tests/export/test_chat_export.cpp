#include "core/export/ChatExport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

namespace {

QString jpegURL(const QByteArray &bytes)
{
    return QStringLiteral("data:image/jpeg;base64,") + QString::fromLatin1(bytes.toBase64());
}

ChatMessage message(const QString &role, const QString &text, const QStringList &images = {},
    std::optional<QString> answeredBy = {}, std::optional<QString> note = {})
{
    ChatMessage m;
    m.role = role;
    m.text = text;
    m.images = images;
    m.answeredBy = std::move(answeredBy);
    m.note = std::move(note);
    return m;
}

const QString code = QStringLiteral("```cpp\nint main() { return 0; }\n```");

// Text, code, a switch note and two pictures: what a real chat holds.
Chat fullChat()
{
    Chat chat;
    chat.title = QStringLiteral("Why *this* works");
    chat.messages = {
        message("user", "Look at this", { jpegURL("\xff\xd8 first") }),
        message("assistant", "Here:\n\n" + code, {}, QStringLiteral("model-b:free"),
            QStringLiteral("model-a:free was busy, so model-b:free answered.")),
        message("user", "", { jpegURL("\xff\xd8 second") }),
        message("assistant", "An answer without a name."),
    };
    return chat;
}

QStringList headings(const QString &markdown)
{
    QStringList found;
    for (const QString &line : markdown.split('\n'))
        if (line.startsWith('#') && !line.startsWith("#include"))
            found << line;
    return found;
}

// The pictures the file links to, read back through its links.
QList<QByteArray> linkedPictures(const QString &markdownPath)
{
    QFile file(markdownPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QString text = QString::fromUtf8(file.readAll());
    QList<QByteArray> pictures;
    static const QRegularExpression link(QStringLiteral(R"(!\[[^\]]*\]\(([^)]+)\))"));
    for (const auto &match : link.globalMatch(text)) {
        QFile picture(
            QFileInfo(markdownPath).dir().filePath(QUrl::fromPercentEncoding(match.captured(1).toUtf8())));
        pictures << (picture.open(QIODevice::ReadOnly) ? picture.readAll() : QByteArray("missing"));
    }
    return pictures;
}

} // namespace

class ChatExportTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void readsBack_data();
    void readsBack();
    void answerKeepsItsReasoningAndHowItEnded_data();
    void answerKeepsItsReasoningAndHowItEnded();
    void failureLeavesNothingHalfDone();
    void exportsOffTheCallersThread();
};

void ChatExportTest::readsBack_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("pictureFolder");
    QTest::newRow("plain name") << "chat.md"
                                << "chat-images";
    QTest::newRow("a name with spaces and no suffix") << "My old chat"
                                                      << "My old chat-images";
}

void ChatExportTest::readsBack()
{
    QFETCH(QString, fileName);
    QFETCH(QString, pictureFolder);
    QTemporaryDir dir;
    const QString path = dir.filePath(fileName);
    QCOMPARE(ChatExport::write(fullChat(), path), std::nullopt);

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    QCOMPARE(headings(text),
        QStringList({ "# Why \\*this\\* works", "## You", "## model-b:free", "## You", "## Assistant" }));
    // The note comes right under its answer's heading; the code unchanged.
    QVERIFY(text.contains("## model-b:free\n\n*model-a:free was busy, so model-b:free answered.*\n\nHere:"));
    QVERIFY(text.contains(code));
    QCOMPARE(linkedPictures(path), QList<QByteArray>({ "\xff\xd8 first", "\xff\xd8 second" }));
    QCOMPARE(QDir(dir.filePath(pictureFolder)).entryList(QDir::Files),
        QStringList({ "image-1.jpg", "image-2.jpg" }));
}

void ChatExportTest::answerKeepsItsReasoningAndHowItEnded_data()
{
    QTest::addColumn<std::optional<QString>>("reasoning");
    QTest::addColumn<std::optional<AnswerCut>>("cut");
    QTest::addColumn<QString>("section");
    QTest::newRow("reasoning over lines, blank ones too")
        << std::optional<QString>("\nFirst the sum.\r\n\nThen *why* it holds.\n\n")
        << std::optional<AnswerCut>()
        << "*a note*\n\n> First the sum.\n> \n> Then *why* it holds.\n\nThe answer.";
    QTest::newRow("blank reasoning, cut by the length limit")
        << std::optional<QString>(" \n ") << std::optional(AnswerCut::length)
        << "*a note*\n\nThe answer.\n\n*Cut off: the model reached its length limit.*";
    QTest::newRow("reasoning, then filtered")
        << std::optional<QString>("Hm.") << std::optional(AnswerCut::filter)
        << "*a note*\n\n> Hm.\n\nThe answer.\n\n"
           "*Stopped by the provider's content filter.*";
}

void ChatExportTest::answerKeepsItsReasoningAndHowItEnded()
{
    QFETCH(std::optional<QString>, reasoning);
    QFETCH(std::optional<AnswerCut>, cut);
    QFETCH(QString, section);
    ChatMessage answer
        = message("assistant", "The answer.", {}, QStringLiteral("Alpha"), QStringLiteral("a note"));
    answer.reasoning = reasoning;
    answer.cut = cut;
    Chat chat;
    chat.messages = { answer, message("user", "And then?") };
    const QString text = ChatExport::markdown(chat, QStringLiteral("images"));
    const QString start = QStringLiteral("## Alpha\n\n");
    const qsizetype from = text.indexOf(start) + start.size();
    QCOMPARE(text.mid(from, text.indexOf(QStringLiteral("\n\n## You"), from) - from), section);
}

void ChatExportTest::failureLeavesNothingHalfDone()
{
    QTemporaryDir dir;
    // The pictures' folder cannot be made where a file stands.
    QFile blocker(dir.filePath("chat-images"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const auto failure = ChatExport::write(fullChat(), dir.filePath("chat.md"));
    QVERIFY(failure.has_value());
    QVERIFY(failure->contains("chat-images"));
    QVERIFY(!QFile::exists(dir.filePath("chat.md")));

    // A chat without pictures into a folder that is not there.
    Chat textOnly;
    textOnly.messages = { message("user", "hello") };
    QVERIFY(ChatExport::write(textOnly, dir.filePath("missing/chat.md")).has_value());
}

void ChatExportTest::exportsOffTheCallersThread()
{
    QTemporaryDir dir;
    QObject context;
    std::optional<std::optional<QString>> result;
    ChatExport::start(fullChat(), dir.filePath("chat.md"), &context,
        [&](std::optional<QString> failure) { result = failure; });
    QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), 60000);
    QCOMPARE(*result, std::nullopt);
    QCOMPARE(linkedPictures(dir.filePath("chat.md")).size(), 2);
}

QTEST_GUILESS_MAIN(ChatExportTest)
#include "test_chat_export.moc"
