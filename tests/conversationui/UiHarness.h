#pragma once

#include "FakeService.h"
#include "core/conversation/ChatViewModel.h"
#include "core/ranker/ModelRanker.h"
#include "core/search/ChatSearch.h"
#include "core/search/ChatSearchIndex.h"
#include "core/service/OpenRouterClient.h"
#include "core/store/ChatStore.h"

#include <QPalette>
#include <QTemporaryDir>
#include <memory>

class QImage;
class QWidget;

namespace uikit {

ORModel model(const QString &id, const QString &name, int contextLength = 32000, bool images = false);

// The conversation stack over real sockets: the fake service, a client
// pointed at it, a store in a temporary folder, a real ranker, and the
// controller with a key.
class Harness
{
public:
    Harness();
    ~Harness();

    // Gives the ranker these free models (the ladder in this order, the
    // router last) through a fresh cache, without network work.
    void useModels(const QList<ORModel> &models);
    // Types text and sends it.
    void say(const QString &text);
    bool waitIdle();
    // Releases the fake's held events until the reply has ended.
    bool releaseUntilIdle();
    // Sends text, lets the answer stream in as `answer`, and waits for the end.
    void exchange(const QString &text, const QString &modelId, const QString &answer);
    // Writes a chat straight to the store and waits until it is listed.
    void storeChat(const Chat &chat);

    const ChatMessage &lastMessage() const { return vm->chat().messages.last(); }
    // A search over the store, whose index is made when first asked for,
    // as the application model makes it.
    std::unique_ptr<ChatSearch> makeSearch();

    QTemporaryDir dir;
    fake::FakeService fake;
    std::unique_ptr<OpenRouterClient> client;
    std::unique_ptr<ChatStore> store;
    std::unique_ptr<ModelRanker> ranker;
    std::unique_ptr<ChatViewModel> vm;
    std::unique_ptr<ChatSearchIndex> searchIndex;
};

// A stream of pieces whose events from `holdFrom` on wait for release()
// (0 is the role chunk, 1 the first piece).
fake::Reply heldStream(const QString &modelId, const QStringList &pieces, int holdFrom);

// Every text a person can read in a widget tree: labels, buttons, line
// edits (text and placeholder), list rows, and menu actions of tool buttons.
QStringList visibleTexts(const QWidget *root);
// A menu or button text as shown: "&&" is "&", a lone "&" marks a mnemonic.
QString shownText(const QString &text);
// Every text a person reads in root and the visible widgets under it, as shown:
// rich text rendered to plain, mnemonics resolved, tooltips and accessible
// names included.
QStringList seenTexts(const QWidget *root);
// The texts of root and the widgets under it that Qt reads as markup (rich labels, rich tooltips,
// the documents of text views), as the markup it reads.
QStringList markupRead(const QWidget *root);
// The visible widgets under root that were given less room than they need:
// narrower than their minimum, shorter than their height for their width,
// or wrapping text whose lines run past their edge. Each as
// "ClassName (object name) WxH, needs ...".
QStringList squeezedWidgets(const QWidget *root);
// Saves image as <TOLVI_SCREENSHOT_DIR>/<name>.png when that variable is set.
void saveScreenshot(const QImage &image, const QString &name);

// The dark palette people commonly give the Fusion style.
QPalette darkPalette();

} // namespace uikit
