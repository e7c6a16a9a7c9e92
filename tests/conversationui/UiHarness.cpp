#include "UiHarness.h"

#include "TestSupport.h"
#include "core/ranker/RankerCache.h"
#include "core/ranker/RefreshRequest.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QTextDocument>
#include <QTextEdit>

namespace uikit {

ORModel model(const QString &id, const QString &name, int contextLength, bool images)
{
    return ORModel{ id, name, contextLength, images };
}

Harness::Harness()
{
    if (!dir.isValid() || !fake.start())
        qFatal("the test setup failed");
    client = std::make_unique<OpenRouterClient>(fake.origin());
    store = std::make_unique<ChatStore>(dir.filePath(QStringLiteral("chats")));
    ranker = std::make_unique<ModelRanker>(*client, dir.filePath(QStringLiteral("models-cache.json")));
    vm = std::make_unique<ChatViewModel>(*store, *ranker, *client);
    vm->keyProvider = [] { return std::optional<QString>(QStringLiteral("sk-or-v1-test")); };
}

Harness::~Harness()
{
    vm.reset();
    store->drain();
}

void Harness::useModels(const QList<ORModel> &models)
{
    QStringList ladder;
    for (const ORModel &m : models)
        ladder.append(m.id);
    ladder.append(ModelRanker::routerId);
    RankerCache{ QDateTime::currentDateTimeUtc(), models, ladder }.write(ranker->cachePath());
    bool done = false;
    QObject::connect(ranker->refresh(QStringLiteral("sk-or-v1-test"), false), &RefreshRequest::finished,
        ranker.get(), [&done](const std::optional<ORError> &) { done = true; });
    if (!testsupport::waitFor([&done] { return done; }) || ranker->ladderIDs() != ladder)
        qFatal("the ranker did not take the models");
}

void Harness::say(const QString &text)
{
    vm->setDraft(text);
    vm->send();
}

bool Harness::waitIdle()
{
    return testsupport::waitFor([this] { return !vm->isStreaming(); });
}

bool Harness::releaseUntilIdle()
{
    return testsupport::waitFor([this] {
        fake.releaseAll();
        return !vm->isStreaming();
    });
}

void Harness::exchange(const QString &text, const QString &modelId, const QString &answer)
{
    fake.enqueueChat(modelId, fake::Reply::stream(modelId, { answer }));
    say(text);
    if (!waitIdle() || lastMessage().text != answer)
        qFatal("no answer");
}

void Harness::storeChat(const Chat &chat)
{
    store->save(chat);
    if (!testsupport::waitFor([&] { return store->load(chat.id).has_value(); }))
        qFatal("the chat was not stored");
}

std::unique_ptr<ChatSearch> Harness::makeSearch()
{
    return std::make_unique<ChatSearch>(*store, [this]() -> ChatSearchIndex & {
        if (!searchIndex)
            searchIndex = ChatSearchIndex::following(*store);
        return *searchIndex;
    });
}

void saveScreenshot(const QImage &image, const QString &name)
{
    const QString dir = qEnvironmentVariable("TOLVI_SCREENSHOT_DIR");
    if (dir.isEmpty())
        return;
    QDir().mkpath(dir);
    image.save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

fake::Reply heldStream(const QString &modelId, const QStringList &pieces, int holdFrom)
{
    fake::StreamOptions options;
    for (int event = holdFrom; event < pieces.size() + 4; ++event)
        options.holdAt.append(event);
    return fake::Reply::stream(modelId, pieces, options);
}

QString shownText(const QString &text)
{
    QString shown;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&') && i + 1 < text.size())
            ++i;
        shown += text[i];
    }
    return shown;
}

QStringList visibleTexts(const QWidget *root)
{
    QStringList texts;
    const QList<QWidget *> widgets = root->findChildren<QWidget *>();
    for (const QWidget *widget : widgets) {
        if (!widget->isVisibleTo(root->window()))
            continue;
        if (const auto *label = qobject_cast<const QLabel *>(widget))
            texts.append(label->text());
        else if (const auto *button = qobject_cast<const QAbstractButton *>(widget))
            texts.append(shownText(button->text()));
        else if (const auto *edit = qobject_cast<const QLineEdit *>(widget))
            texts << edit->text() << edit->placeholderText();
        if (const auto *view = qobject_cast<const QAbstractItemView *>(widget); view && view->model()) {
            for (int row = 0; row < view->model()->rowCount(); ++row)
                texts.append(view->model()->index(row, 0).data().toString());
        }
        if (!widget->toolTip().isEmpty())
            texts.append(widget->toolTip());
    }
    return texts;
}

namespace {

bool readsAsMarkup(const QLabel *label)
{
    return label->textFormat() == Qt::RichText
        || (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text()));
}

QString rendered(const QString &html)
{
    QTextDocument document;
    document.setHtml(html);
    return document.toPlainText();
}

} // namespace

QStringList seenTexts(const QWidget *root)
{
    QStringList texts;
    const QList<QWidget *> widgets = root->findChildren<QWidget *>() << const_cast<QWidget *>(root);
    for (const QWidget *widget : widgets) {
        if (!widget->isVisibleTo(root->window()))
            continue;
        if (const auto *label = qobject_cast<const QLabel *>(widget))
            texts.append(readsAsMarkup(label) ? rendered(label->text()) : label->text());
        else if (const auto *button = qobject_cast<const QAbstractButton *>(widget))
            texts.append(shownText(button->text()));
        else if (const auto *edit = qobject_cast<const QTextEdit *>(widget))
            texts.append(edit->toPlainText());
        const QString tip = widget->toolTip();
        if (!tip.isEmpty())
            texts.append(Qt::mightBeRichText(tip) ? rendered(tip) : tip);
        if (!widget->accessibleName().isEmpty())
            texts.append(widget->accessibleName());
    }
    return texts;
}

QStringList markupRead(const QWidget *root)
{
    QStringList markup;
    const QList<QWidget *> widgets = root->findChildren<QWidget *>() << const_cast<QWidget *>(root);
    for (const QWidget *widget : widgets) {
        if (const auto *label = qobject_cast<const QLabel *>(widget); label && readsAsMarkup(label))
            markup.append(label->text());
        else if (const auto *edit = qobject_cast<const QTextEdit *>(widget))
            markup.append(edit->toHtml());
        if (Qt::mightBeRichText(widget->toolTip()))
            markup.append(widget->toolTip());
    }
    return markup;
}

QStringList squeezedWidgets(const QWidget *root)
{
    QStringList squeezed;
    const QList<QWidget *> widgets = root->findChildren<QWidget *>();
    for (const QWidget *widget : widgets) {
        if (!widget->isVisibleTo(root->window()) || widget->isWindow())
            continue;
        const int wanted = widget->minimumSizeHint().width();
        const int tall = widget->hasHeightForWidth() ? widget->heightForWidth(widget->width()) : 0;
        const auto *text = qobject_cast<const QTextEdit *>(widget);
        const bool runsPast = text && text->lineWrapMode() != QTextEdit::NoWrap
            && text->document()->idealWidth() > text->viewport()->width();
        if (widget->width() < wanted || widget->height() < tall || runsPast) {
            squeezed.append(QStringLiteral("%1 (%2) %3x%4, needs %5x%6")
                                .arg(QLatin1String(widget->metaObject()->className()), widget->objectName())
                                .arg(widget->width())
                                .arg(widget->height())
                                .arg(wanted)
                                .arg(tall));
        }
    }
    return squeezed;
}

QPalette darkPalette()
{
    QPalette dark;
    const QColor window(53, 53, 53);
    const QColor base(42, 42, 42);
    const QColor text(Qt::white);
    dark.setColor(QPalette::Window, window);
    dark.setColor(QPalette::WindowText, text);
    dark.setColor(QPalette::Base, base);
    dark.setColor(QPalette::AlternateBase, QColor(66, 66, 66));
    dark.setColor(QPalette::ToolTipBase, window);
    dark.setColor(QPalette::ToolTipText, text);
    dark.setColor(QPalette::Text, text);
    dark.setColor(QPalette::PlaceholderText, QColor(140, 140, 140));
    dark.setColor(QPalette::Button, window);
    dark.setColor(QPalette::ButtonText, text);
    dark.setColor(QPalette::BrightText, Qt::red);
    dark.setColor(QPalette::Link, QColor(42, 130, 218));
    dark.setColor(QPalette::Highlight, QColor(42, 130, 218));
    dark.setColor(QPalette::HighlightedText, Qt::black);
    dark.setColor(QPalette::Light, QColor(80, 80, 80));
    dark.setColor(QPalette::Midlight, QColor(66, 66, 66));
    dark.setColor(QPalette::Mid, QColor(40, 40, 40));
    dark.setColor(QPalette::Dark, QColor(30, 30, 30));
    dark.setColor(QPalette::Shadow, Qt::black);
    dark.setColor(QPalette::Disabled, QPalette::WindowText, QColor(127, 127, 127));
    dark.setColor(QPalette::Disabled, QPalette::Text, QColor(127, 127, 127));
    dark.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(127, 127, 127));
    return dark;
}

} // namespace uikit
