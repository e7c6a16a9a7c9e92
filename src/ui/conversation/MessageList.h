#pragma once

#include <QList>
#include <QPointer>
#include <QStringList>
#include <QUuid>
#include <QWidget>
#include <functional>
#include <optional>

class ConversationModel;
class MessageRow;
class QScrollArea;

// The rows of the open chat, one per row of the conversation model, built
// only near what the scroll area shows and released again far from it, so
// that a chat of thousands of messages costs what a screenful costs. Every
// message has a height: measured while its row exists (and remembered after
// it is released), estimated from its text before it was ever built. When a
// height above the top of the view changes, the view moves with it, so what
// a reader looks at stays where it is.
//
// Each message's top is kept too, refreshed from the first one whose height
// changed, and the rows that exist are known by their indices: what a flush
// of a streaming answer costs follows the rows that exist, not the length of
// the chat.
class MessageList : public QWidget
{
    Q_OBJECT
public:
    static constexpr int rowSpacing = 22;

    explicit MessageList(const ConversationModel &model, QWidget *parent = nullptr);

    // The scroll area the list is shown in; until it is known, the view is
    // taken to be a screenful at the end.
    void setScrollArea(QScrollArea *area);
    // Whether the chat's last answer can be continued now; asked whenever
    // that row changes, which it does when a reply starts or ends. Until
    // set, no answer offers Continue.
    void setCanContinue(std::function<bool()> canContinue);

    // The rows that exist, top to bottom, and the row of one message.
    QList<MessageRow *> rows() const;
    MessageRow *row(const QUuid &id) const;

    // Marks the words a search found (folded) in every row, those built
    // later too; none when empty.
    void setMarkedWords(const QStringList &foldedWords);
    // Scrolls so that the message's row is built and near the top of the
    // view.
    void reveal(const QUuid &id);

Q_SIGNALS:
    void regenerateRequested();
    void continueRequested();

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    struct Entry {
        QUuid id;
        int top = 0; // the sum of the heights and spacings above
        int height = 0;
        int width = -1; // the width the height is for; -1: none yet
        MessageRow *row = nullptr;
        // The reasoning's open or fold choice, while the row is away.
        std::optional<bool> reasoningChoice = std::nullopt;
    };

    void onReset();
    void onInserted(int first, int last);
    void onRemoved(int first, int last);
    void onChanged(int first, int last);

    void update();
    void onScrolled();
    bool updatePass();
    void measure(Entry &entry, int width);
    int estimate(int index, int width) const;
    void build(int index);
    void follow(MessageRow *row, int index);
    void release(int index);
    void placeRows();
    void resizeTo(int height);
    QPair<int, int> viewSpan() const;
    int contentHeight() const;
    int topOf(int index) const { return m_entries[index].top; }
    void refreshTops(int from);
    void markStale(int index);

    const ConversationModel &m_model;
    QPointer<QScrollArea> m_area;
    QList<Entry> m_entries;
    // The indices of the entries that have a row, in order.
    QList<int> m_built;
    // The width every entry without a row has a height for; -1 when none.
    int m_estimatedWidth = -1;
    // The entries without a row that may need estimating again at that
    // width (the model changed them, or they are new) lie in this span;
    // empty when the first is past the last.
    int m_staleFirst = 0;
    int m_staleLast = -1;
    QStringList m_markedWords;
    std::function<bool()> m_canContinue;
    // A chat just opened shows its end, before the scroll bar has got there.
    bool m_assumeEnd = true;
    // The rows just outside the view wait until a chat just opened is on
    // screen.
    bool m_viewOnly = false;
    bool m_updating = false;
    bool m_updateAgain = false;
};
