// The input bar around the editor: send and stop, the image notice,
// attachments, drops, and what it looks like.

#include "FakeService.h"
#include "InputTestKit.h"
#include "ui/input/AttachmentStrip.h"
#include "ui/input/DataURLImage.h"
#include "ui/input/GrowingTextView.h"
#include "ui/input/NoticeRow.h"
#include "ui/input/SymbolButton.h"
#include "ui/style/Palette.h"
#include "ui/widgets/WrappingButton.h"
#include "ui/widgets/WrappingLabel.h"

#include <QFile>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QTest>

using inputkit::BarFixture;

namespace {

const ORModel alpha = convkit::model(QStringLiteral("a/alpha:free"), QStringLiteral("Alpha"));
const ORModel blind = convkit::model(QStringLiteral("b/blind:free"), QStringLiteral("Blind"));
const ORModel seeing
    = convkit::model(QStringLiteral("s/seeing:free"), QStringLiteral("Seeing & Co"), 32000, true);

// Drop data made of these kinds of items, in order: "png" (a local image
// file), "txt" (a local text file), "remote" (an https URL), "data" (image
// data without a file).
std::unique_ptr<QMimeData> dropData(const QStringList &kinds, const QTemporaryDir &dir)
{
    auto mime = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    for (int i = 0; i < kinds.size(); ++i) {
        const QString name = QStringLiteral("item%1").arg(i);
        if (kinds[i] == QLatin1String("png")) {
            urls.append(QUrl::fromLocalFile(inputkit::writePng(
                dir, name + QStringLiteral(".png"), { 80, 60 }, QColor::fromHsv(i * 40, 200, 200))));
        } else if (kinds[i] == QLatin1String("txt")) {
            QFile file(dir.filePath(name + QStringLiteral(".txt")));
            if (!file.open(QIODevice::WriteOnly) || file.write("plain words") < 0)
                qFatal("cannot write the text file");
            urls.append(QUrl::fromLocalFile(file.fileName()));
        } else if (kinds[i] == QLatin1String("remote")) {
            urls.append(QUrl(QStringLiteral("https://example.com/cat.png")));
        } else {
            mime->setImageData(inputkit::filled({ 50, 50 }, Qt::darkGreen));
        }
    }
    if (!urls.isEmpty())
        mime->setUrls(urls);
    return mime;
}

// Drags data over target and drops it there, as the window system would.
// Returns whether the drop was accepted.
bool dragAndDrop(QWidget *target, QMimeData *data, InputBar *bar, bool *hoveredAsDrop)
{
    const QPointF at(target->width() / 2.0, target->height() / 2.0);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    *hoveredAsDrop = bar->isDropping();
    if (!enter.isAccepted())
        return false;
    QDragMoveEvent move(at.toPoint(), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &move);
    QDropEvent drop(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    return drop.isAccepted();
}

SymbolButton *removeButtonOf(DataURLImage *thumbnail)
{
    return thumbnail->parentWidget()->findChild<SymbolButton *>();
}

// Whether anything but the editor's background is drawn.
bool drawsSomething(QWidget *editor)
{
    const QImage image = editor->grab().toImage();
    const QRgb background = image.pixel(image.width() - 1, image.height() - 1);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != background)
                return true;
        }
    }
    return false;
}

} // namespace

class InputBarTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sendButtonNeedsSomethingToSend()
    {
        BarFixture f;
        f.h.useModels({ alpha });
        auto *send = f.bar->sendButton();
        QCOMPARE(send->accessibleName(), QStringLiteral("Send"));
        QCOMPARE(send->toolTip(), QStringLiteral("Send"));
        QVERIFY(!send->isEnabled());
        QCOMPARE(send->circleColour(), Palette::secondary(send->palette(), 0.5));

        f.type(QStringLiteral("  \n"));
        QVERIFY(!send->isEnabled());
        f.h.vm->attach(inputkit::filled({ 20, 20 }, Qt::red));
        QVERIFY(send->isEnabled());
        f.h.vm->removeAttachment(0);
        QVERIFY(!send->isEnabled());
        f.type(QStringLiteral("Hi"));
        QVERIFY(send->isEnabled());
        QCOMPARE(send->circleColour(), send->palette().color(QPalette::Highlight));

        QTest::mouseClick(send, Qt::LeftButton);
        QCOMPARE(f.h.vm->chat().messages.first().text, QStringLiteral("Hi"));
        QVERIFY(f.h.waitIdle());
    }

    void afterSendTheFieldEmptiesAndThePlaceholderShows()
    {
        BarFixture f;
        f.h.useModels({ alpha });
        auto *editor = f.bar->editor();
        QCOMPARE(editor->placeholderText(), QStringLiteral("Message Tolvi"));
        QCOMPARE(editor->accessibleName(), QStringLiteral("Message Tolvi"));
        QVERIFY(drawsSomething(editor)); // the placeholder
        f.grabTo(QStringLiteral("input-bar-empty"));
        f.h.vm->setDraft(QStringLiteral(" "));
        QVERIFY(!drawsSomething(editor)); // a space: no placeholder

        f.type(QStringLiteral("first\nsecond"));
        f.settle();
        QVERIFY(editor->height() > 28);
        QTest::keyClick(editor, Qt::Key_Return);
        QCOMPARE(editor->text(), QString());
        f.settle();
        QCOMPARE(editor->height(), 28);
        QVERIFY(drawsSomething(editor));
        QVERIFY(f.h.waitIdle());
    }

    void stopReplacesSendWhileAReplyStreams()
    {
        BarFixture f;
        f.h.useModels({ alpha });
        fake::StreamOptions held;
        held.holdAt = { 1 };
        f.h.fake.onAnyChat(
            fake::Reply::stream(alpha.id, { QStringLiteral("Hel"), QStringLiteral("lo") }, held));
        f.type(QStringLiteral("Hi"));
        QTest::keyClick(f.bar->editor(), Qt::Key_Return);
        QTRY_VERIFY(f.h.vm->isStreaming());

        auto *stop = f.bar->stopButton();
        QVERIFY(!stop->isHidden());
        QVERIFY(f.bar->sendButton()->isHidden());
        QCOMPARE(stop->accessibleName(), QStringLiteral("Stop"));
        QCOMPARE(stop->toolTip(), QStringLiteral("Stop"));
        f.grabTo(QStringLiteral("input-bar-streaming"));

        // Return while streaming sends nothing and keeps the draft.
        f.type(QStringLiteral("more"));
        QTest::keyClick(f.bar->editor(), Qt::Key_Return);
        QCOMPARE(f.h.vm->draft(), QStringLiteral("more"));

        QTest::mouseClick(stop, Qt::LeftButton);
        QVERIFY(!f.h.vm->isStreaming());
        QVERIFY(stop->isHidden());
        QVERIFY(!f.bar->sendButton()->isHidden());
        QVERIFY(f.bar->sendButton()->isEnabled());
        f.h.fake.releaseAll();
    }

    void noticeOffersASwitchOnlyWithAModelThatSees_data()
    {
        QTest::addColumn<bool>("visionModelKnown");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("buttonText"); // "&&" shows "&"
        QTest::newRow("a model that sees") << true << seeing.name << QStringLiteral("Switch to Seeing && Co");
        QTest::newRow("no model sees") << false << seeing.name << QString();
        // Shown as written: no markup, no mnemonic, no second line.
        QTest::newRow("a name with markup") << true << QStringLiteral("<b>Seeing</b>\n[*] &x")
                                            << QStringLiteral("Switch to <b>Seeing</b> [*] &&x");
    }
    void noticeOffersASwitchOnlyWithAModelThatSees()
    {
        QFETCH(bool, visionModelKnown);
        QFETCH(QString, name);
        QFETCH(QString, buttonText);
        BarFixture f;
        ORModel sees = seeing;
        sees.name = name;
        f.h.useModels({ blind, sees });
        if (!visionModelKnown)
            f.h.ranker->offer = QList<ORModel>{}; // not even the router
        f.h.vm->pin(blind.id);
        auto *notice = f.bar->noticeRow();
        QVERIFY(notice->isHidden());

        f.h.vm->attach(inputkit::filled({ 30, 30 }, Qt::yellow));
        QVERIFY(!notice->isHidden());
        QCOMPARE(notice->messageLabel()->text(), QStringLiteral("This model can't see images."));
        QCOMPARE(notice->messageLabel()->accessibleName(), QStringLiteral("This model can't see images."));
        QCOMPARE(!notice->switchButton()->isHidden(), visionModelKnown);
        if (!visionModelKnown)
            return;
        QCOMPARE(notice->switchButton()->text(), buttonText);
        QCOMPARE(notice->switchButton()->accessibleName(), QString(buttonText).replace("&&", "&"));
        QTest::mouseClick(notice->switchButton(), Qt::LeftButton);
        QCOMPARE(f.h.vm->chat().pinnedModel, std::optional<QString>(seeing.id));
        QVERIFY(notice->isHidden());
    }

    void drops_data()
    {
        QTest::addColumn<QStringList>("items");
        QTest::addColumn<bool>("onEditor");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<int>("attached");
        const QStringList two{ QStringLiteral("png"), QStringLiteral("png") };
        QTest::newRow("two images") << two << false << true << 2;
        QTest::newRow("two images on the editor") << two << true << true << 2;
        QTest::newRow("a text file") << QStringList{ QStringLiteral("txt") } << false << true << 0;
        QTest::newRow("text file and image")
            << QStringList{ QStringLiteral("txt"), QStringLiteral("png") } << false << true << 1;
        QTest::newRow("image data") << QStringList{ QStringLiteral("data") } << false << true << 1;
        QTest::newRow("a remote URL") << QStringList{ QStringLiteral("remote") } << false << false << 0;
        QTest::newRow("five images, four kept")
            << QStringList(5, QStringLiteral("png")) << false << true << 4;
    }
    void drops()
    {
        QFETCH(QStringList, items);
        QFETCH(bool, onEditor);
        QFETCH(bool, accepted);
        QFETCH(int, attached);
        BarFixture f;
        const std::unique_ptr<QMimeData> data = dropData(items, f.files);
        QWidget *target = onEditor ? f.bar->editor()->viewport() : static_cast<QWidget *>(f.bar);

        bool hovered = false;
        QCOMPARE(dragAndDrop(target, data.get(), f.bar, &hovered), accepted);
        QCOMPARE(hovered, accepted);
        QVERIFY(!f.bar->isDropping());
        QTRY_COMPARE(f.bar->pendingDrops(), 0);
        QCOMPARE(f.h.vm->attachments().size(), attached);
        QCOMPARE(f.bar->attachmentStrip()->thumbnails().size(), attached);
        QCOMPARE(f.bar->editor()->text(), QString());
    }

    void dropsAttachInTheOrderDropped()
    {
        BarFixture f;
        const std::unique_ptr<QMimeData> first = dropData({ QStringLiteral("png") }, f.files);
        const std::unique_ptr<QMimeData> second = dropData({ QStringLiteral("data") }, f.files);
        bool hovered = false;
        QVERIFY(dragAndDrop(f.bar, first.get(), f.bar, &hovered));
        QVERIFY(dragAndDrop(f.bar, second.get(), f.bar, &hovered));
        QTRY_COMPARE(f.bar->pendingDrops(), 0);
        QCOMPARE(f.h.vm->attachments().size(), 2);
        const QImage last = DataURLImage::decode(f.h.vm->attachments().last());
        QVERIFY(qGreen(last.pixel(25, 25)) > 80 && qRed(last.pixel(25, 25)) < 40); // the dark green data
    }

    void dragLeavingEndsTheHighlight()
    {
        BarFixture f;
        const std::unique_ptr<QMimeData> data = dropData({ QStringLiteral("png") }, f.files);
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(f.bar, &enter);
        QVERIFY(f.bar->isDropping());
        f.grabTo(QStringLiteral("input-bar-dropping"));
        QDragLeaveEvent leave;
        QCoreApplication::sendEvent(f.bar, &leave);
        QVERIFY(!f.bar->isDropping());
        QCOMPARE(f.bar->pendingDrops(), 0);
    }

    void thumbnailsDecodeOnceAndRemoveByPosition()
    {
        BarFixture f;
        QVERIFY(f.showActive());
        const int before = DataURLImage::decodeCount();
        f.h.vm->attach(inputkit::filled({ 90, 60 }, Qt::red));
        f.h.vm->attach(inputkit::filled({ 60, 90 }, Qt::blue));
        for (int i = 0; i < 3; ++i) {
            f.window.resize(480 + 40 * i, 320);
            f.window.grab();
        }
        QCOMPARE(DataURLImage::decodeCount() - before, 2);

        f.h.vm->attach(inputkit::filled({ 60, 60 }, Qt::green));
        f.window.grab();
        QCOMPARE(DataURLImage::decodeCount() - before, 3);

        QList<DataURLImage *> thumbnails = f.bar->attachmentStrip()->thumbnails();
        QCOMPARE(thumbnails.size(), 3);
        SymbolButton *remove = removeButtonOf(thumbnails[0]);
        QCOMPARE(remove->accessibleName(), QStringLiteral("Remove image"));
        QCOMPARE(remove->toolTip(), QStringLiteral("Remove image"));
        QTest::mouseClick(remove, Qt::LeftButton);
        QCoreApplication::processEvents();

        thumbnails = f.bar->attachmentStrip()->thumbnails();
        QCOMPARE(thumbnails.size(), 2);
        for (int i = 0; i < 2; ++i)
            QCOMPARE(thumbnails[i]->dataURL(), f.h.vm->attachments()[i]);
        // The one now first still shows its own image.
        f.window.grab();
        QCOMPARE(DataURLImage::decodeCount() - before, 3);

        QTest::mouseClick(removeButtonOf(thumbnails[1]), Qt::LeftButton);
        QTest::mouseClick(removeButtonOf(f.bar->attachmentStrip()->thumbnails()[0]), Qt::LeftButton);
        QVERIFY(f.h.vm->attachments().isEmpty());
        QVERIFY(f.bar->attachmentStrip()->isHidden());
    }

    void looksRight()
    {
        BarFixture f(560);
        f.h.useModels({ blind, seeing });
        f.h.vm->pin(blind.id);
        f.h.vm->attach(inputkit::filled({ 120, 80 }, QColor(70, 130, 180)));
        f.h.vm->attach(inputkit::filled({ 80, 120 }, QColor(230, 120, 60)));
        f.type(QStringLiteral("What is in these two pictures?"));
        QTest::keyClick(f.bar->editor(), Qt::Key_Return, Qt::ShiftModifier);
        f.type(QStringLiteral("Answer briefly."));
        QVERIFY(f.showActive());
        f.settle();

        // Rows 8 apart inside padding of 14 and 10, in order.
        const QRect notice = f.bar->noticeRow()->geometry();
        const QRect strip = f.bar->attachmentStrip()->geometry();
        const QRect editor = f.bar->editor()->geometry();
        QCOMPARE(notice.left(), 14);
        QCOMPARE(notice.top(), 10);
        QCOMPARE(strip.top() - notice.bottom() - 1, 8);
        QCOMPARE(strip.height(), 56);
        QCOMPARE(f.bar->height() - editor.bottom() - 1, 10);
        QCOMPARE(f.bar->sendButton()->geometry().bottom(), editor.bottom());
        QCOMPARE(f.bar->sendButton()->geometry().left() - editor.right() - 1, 10);
        QCOMPARE(f.bar->width() - f.bar->sendButton()->geometry().right() - 1, 14);
        f.grabTo(QStringLiteral("input-bar"));

        // Colours come from the palette when painting: a dark one takes.
        QPalette dark;
        dark.setColor(QPalette::Window, QColor(30, 30, 32));
        dark.setColor(QPalette::WindowText, QColor(235, 235, 240));
        dark.setColor(QPalette::Base, QColor(44, 44, 46));
        dark.setColor(QPalette::Text, QColor(235, 235, 240));
        dark.setColor(QPalette::PlaceholderText, QColor(235, 235, 240, 110));
        dark.setColor(QPalette::Button, QColor(58, 58, 60));
        dark.setColor(QPalette::ButtonText, QColor(235, 235, 240));
        dark.setColor(QPalette::Highlight, QColor(10, 132, 255));
        f.window.setPalette(dark);
        f.settle();
        const QImage picture = f.bar->grab().toImage();
        const QPoint empty(f.bar->width() / 2, f.bar->attachmentStrip()->geometry().center().y());
        QCOMPARE(picture.pixelColor(empty * picture.devicePixelRatio()), QColor(44, 44, 46));
        f.grabTo(QStringLiteral("input-bar-dark"));
    }
};

QTEST_MAIN(InputBarTest)
#include "test_input_bar.moc"
