#include "ui/conversation/MessageList.h"

#include "core/conversation/ConversationModel.h"
#include "ui/conversation/MessageRow.h"
#include "ui/conversation/RowHeightEstimate.h"

#include <QApplication>
#include <QEvent>
#include <QLayout>
#include <QResizeEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>

namespace {

// Rows are built this far (in screenfuls) beyond the view and released
// beyond the second distance; the gap keeps a row that scrolls back and
// forth at the edge from being built and released over and over.
constexpr int buildScreens = 1;
constexpr int releaseScreens = 3;
// A view not yet in its scroll area is taken to be this tall.
constexpr int assumedViewHeight = 800;
// Building rows can change heights, which can bring other rows near the
// view; a few rounds settle it.
constexpr int maxPasses = 6;
// A revealed row sits this far below the top of the view, so that what
// leads to it shows too.
constexpr int revealMargin = 24;

} // namespace

MessageList::MessageList(const ConversationModel &model, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
{
    setFixedHeight(0);
    connect(&model, &QAbstractItemModel::modelReset, this, &MessageList::onReset);
    connect(&model, &QAbstractItemModel::rowsInserted, this,
        [this](const QModelIndex &, int first, int last) { onInserted(first, last); });
    connect(&model, &QAbstractItemModel::rowsAboutToBeRemoved, this,
        [this](const QModelIndex &, int first, int last) { onRemoved(first, last); });
    connect(&model, &QAbstractItemModel::dataChanged, this,
        [this](const QModelIndex &from, const QModelIndex &to) { onChanged(from.row(), to.row()); });
    onReset();
}

void MessageList::setScrollArea(QScrollArea *area)
{
    m_area = area;
    connect(area->verticalScrollBar(), &QScrollBar::valueChanged, this, &MessageList::onScrolled);
    area->viewport()->installEventFilter(this);
    update();
}

void MessageList::setCanContinue(std::function<bool()> canContinue)
{
    m_canContinue = std::move(canContinue);
    for (const int index : QList<int>(m_built)) {
        if (MessageRow *row = m_entries[index].row)
            follow(row, index);
    }
}

void MessageList::onScrolled()
{
    m_assumeEnd = false;
    update();
}

QList<MessageRow *> MessageList::rows() const
{
    QList<MessageRow *> built;
    built.reserve(m_built.size());
    for (const int index : m_built)
        built.append(m_entries[index].row);
    return built;
}

// A message without a row has none to give, so only those with one are
// looked through.
MessageRow *MessageList::row(const QUuid &id) const
{
    for (const int index : m_built) {
        if (m_entries[index].id == id)
            return m_entries[index].row;
    }
    return nullptr;
}

void MessageList::setMarkedWords(const QStringList &foldedWords)
{
    m_markedWords = foldedWords;
    for (const int index : QList<int>(m_built)) {
        if (MessageRow *row = m_entries[index].row)
            row->setMarkedWords(foldedWords);
    }
}

// Rows above the message have only estimated heights until they are built;
// once the rows at the new place are built and measured, update() keeps the
// view where it is through the heights that changed above it, and a second
// round corrects what the estimate missed.
void MessageList::reveal(const QUuid &id)
{
    const auto found = std::find_if(
        m_entries.cbegin(), m_entries.cend(), [&id](const Entry &entry) { return entry.id == id; });
    if (!m_area || found == m_entries.cend())
        return;
    const int index = int(found - m_entries.cbegin());
    m_assumeEnd = false;
    QScrollBar *bar = m_area->verticalScrollBar();
    for (int round = 0; round < 2; ++round) {
        const int top = mapTo(m_area->widget(), QPoint(0, topOf(index))).y();
        bar->setValue(qMax(0, top - revealMargin));
        update();
    }
}

bool MessageList::event(QEvent *event)
{
    // A row asks for another height (its text grew, a picture arrived).
    if (event->type() == QEvent::LayoutRequest)
        update();
    return QWidget::event(event);
}

bool MessageList::eventFilter(QObject *watched, QEvent *event)
{
    if (m_area && watched == m_area->viewport() && event->type() == QEvent::Resize)
        update();
    return QWidget::eventFilter(watched, event);
}

void MessageList::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (event->size().width() == event->oldSize().width()) {
        placeRows();
        return;
    }
    const int heightBefore = height();
    update();
    // A new width is given while the column places its children; when it
    // changes the list's height (and with it, perhaps, the scroll bar and
    // the column's width), the column's pass goes on placing what follows
    // the list where it measured before, so it is asked for one more.
    if (height() != heightBefore && parentWidget() && parentWidget()->layout())
        QMetaObject::invokeMethod(parentWidget()->layout(), &QLayout::invalidate, Qt::QueuedConnection);
}

// ---- following the model -----------------------------------------------------

void MessageList::onReset()
{
    while (!m_built.isEmpty())
        release(m_built.last());
    m_entries.clear();
    const int count = m_model.rowCount();
    m_entries.reserve(count);
    for (int i = 0; i < count; ++i)
        m_entries.append(Entry{ m_model.message(i).id });
    m_estimatedWidth = -1; // every one is estimated
    m_staleFirst = 0;
    m_staleLast = -1;
    refreshTops(0);
    // Another chat opens at its end.
    m_assumeEnd = true;
    m_viewOnly = true;
    update();
    QTimer::singleShot(0, this, [this] {
        m_viewOnly = false;
        update();
    });
}

void MessageList::onInserted(int first, int last)
{
    const int count = last - first + 1;
    for (int i = first; i <= last; ++i)
        m_entries.insert(i, Entry{ m_model.message(i).id });
    for (int &index : m_built) {
        if (index >= first)
            index += count;
    }
    if (m_staleFirst <= m_staleLast) {
        if (m_staleFirst >= first)
            m_staleFirst += count;
        if (m_staleLast >= first)
            m_staleLast += count;
    }
    for (int i = first; i <= last; ++i)
        markStale(i);
    refreshTops(first);
    update();
}

void MessageList::onRemoved(int first, int last)
{
    const int count = last - first + 1;
    for (int i = last; i >= first; --i)
        release(i);
    m_entries.remove(first, count);
    for (int &index : m_built) {
        if (index > last)
            index -= count;
    }
    if (m_staleFirst <= m_staleLast) {
        m_staleFirst = m_staleFirst > last ? m_staleFirst - count : qMin(m_staleFirst, first);
        m_staleLast = m_staleLast > last ? m_staleLast - count : qMin(m_staleLast, first - 1);
    }
    refreshTops(first);
    // The rows after them move up once the model has removed them.
    QMetaObject::invokeMethod(this, &MessageList::update, Qt::QueuedConnection);
}

void MessageList::onChanged(int first, int last)
{
    for (int i = first; i <= last && i < m_entries.size(); ++i) {
        Entry &entry = m_entries[i];
        if (entry.row) {
            entry.row->setMessage(m_model.message(i)); // nothing happens when it is unchanged
            follow(entry.row, i);
        } else {
            entry.width = -1; // estimated again
            markStale(i);
        }
    }
    update();
}

void MessageList::markStale(int index)
{
    if (m_staleFirst > m_staleLast) {
        m_staleFirst = index;
        m_staleLast = index;
        return;
    }
    m_staleFirst = qMin(m_staleFirst, index);
    m_staleLast = qMax(m_staleLast, index);
}

// Only the entries from the first whose height changed move; those above
// keep their tops.
void MessageList::refreshTops(int from)
{
    if (from >= m_entries.size())
        return;
    Entry *entry = m_entries.data() + from;
    Entry *const end = m_entries.data() + m_entries.size();
    int top = from > 0 ? entry[-1].top + entry[-1].height + rowSpacing : 0;
    for (; entry != end; ++entry) {
        entry->top = top;
        top += entry->height + rowSpacing;
    }
}

// ---- building, measuring and placing rows ----------------------------------

void MessageList::update()
{
    if (m_updating) {
        m_updateAgain = true;
        return;
    }
    m_updating = true;
    for (int pass = 0; pass < maxPasses; ++pass) {
        m_updateAgain = false;
        if (!updatePass() && !m_updateAgain)
            break;
    }
    m_updating = false;
}

// One round: measures the rows that exist and estimates the others that
// need it, moves the view with what changed above it, builds the rows near
// the view and releases those far from it. Returns whether it built a row,
// whose height the next round measures.
bool MessageList::updatePass()
{
    const int width = qMax(1, this->width());
    const auto [viewTop, viewBottom] = viewSpan();
    int deltaAbove = 0;
    int firstChanged = int(m_entries.size());
    // The tops are still those of the old heights here.
    const auto took = [&](int index, int old) {
        const Entry &entry = m_entries[index];
        if (entry.height == old)
            return;
        firstChanged = qMin(firstChanged, index);
        if (entry.top + old <= viewTop)
            deltaAbove += entry.height - old;
    };
    // At another width, every message without a row is estimated anew but
    // for those last measured at it; at the same width, only those the
    // model changed or added since.
    const int last = int(m_entries.size()) - 1;
    const bool newWidth = width != m_estimatedWidth;
    const int staleFirst = newWidth ? 0 : m_staleFirst;
    const int staleLast = newWidth ? last : qMin(m_staleLast, last);
    for (int i = staleFirst; i <= staleLast; ++i) {
        Entry &entry = m_entries[i];
        if (entry.row || entry.width == width)
            continue;
        const int old = entry.height;
        entry.height = estimate(i, width);
        entry.width = width;
        took(i, old);
    }
    m_estimatedWidth = width;
    m_staleFirst = 0;
    m_staleLast = -1;
    for (const int index : m_built) {
        const int old = m_entries[index].height;
        measure(m_entries[index], width);
        took(index, old);
    }
    refreshTops(firstChanged);

    // A reader above the end keeps their place through the list's own
    // changes of height; at the end, the end is kept by whoever follows it.
    QScrollBar *bar = m_area ? m_area->verticalScrollBar() : nullptr;
    const bool keepPlace = bar && !m_assumeEnd && bar->value() < bar->maximum();
    const int shift = keepPlace ? deltaAbove : 0;
    const int screen = viewBottom - viewTop;
    const int margin = m_viewOnly ? 0 : buildScreens * screen;
    const int buildTop = viewTop + shift - margin;
    const int buildBottom = viewBottom + shift + margin;
    const int releaseTop = viewTop + shift - releaseScreens * screen;
    const int releaseBottom = viewBottom + shift + releaseScreens * screen;
    const QWidget *focus = QApplication::focusWidget();
    for (const int index : QList<int>(m_built)) {
        const Entry &entry = m_entries[index];
        if (entry.row && (entry.top + entry.height < releaseTop || entry.top > releaseBottom)
            && !(focus && entry.row->isAncestorOf(focus)))
            release(index);
    }
    // The bottoms only grow down the list: the first entry that reaches
    // the span to build is found by halving.
    const auto near = std::partition_point(m_entries.cbegin(), m_entries.cend(),
        [buildTop](const Entry &entry) { return entry.top + entry.height < buildTop; });
    bool built = false;
    for (int i = int(near - m_entries.cbegin()); i < m_entries.size() && m_entries[i].top <= buildBottom;
         ++i) {
        if (!m_entries[i].row) {
            build(i);
            built = true;
        }
    }

    // Taken before the new height reaches the scroll bar, which may clamp
    // the value to a smaller range or take it to the end.
    const int value = keepPlace ? bar->value() : 0;
    placeRows();
    resizeTo(contentHeight());
    if (keepPlace && bar->value() != value + shift)
        bar->setValue(value + shift);
    return built;
}

void MessageList::measure(Entry &entry, int width)
{
    entry.height
        = entry.row->hasHeightForWidth() ? entry.row->heightForWidth(width) : entry.row->sizeHint().height();
    entry.width = width;
}

int MessageList::estimate(int index, int width) const
{
    return RowHeightEstimate::of(m_model.message(index), width, font());
}

void MessageList::build(int index)
{
    Entry &entry = m_entries[index];
    auto *row = new MessageRow(m_model.message(index), this);
    row->setReasoningChoice(entry.reasoningChoice);
    follow(row, index);
    connect(row, &MessageRow::regenerateRequested, this, &MessageList::regenerateRequested);
    connect(row, &MessageRow::continueRequested, this, &MessageList::continueRequested);
    if (!m_markedWords.isEmpty())
        row->setMarkedWords(m_markedWords);
    entry.row = row;
    // Screen readers read the rows in the order of the list's children.
    const auto next = std::upper_bound(m_built.cbegin(), m_built.cend(), index);
    if (next != m_built.cend())
        row->stackUnder(m_entries[*next].row);
    m_built.insert(next - m_built.cbegin(), index);
}

// Only the chat's last message can be regenerated or continued, and only
// while no reply runs; the model says which row that is.
void MessageList::follow(MessageRow *row, int index)
{
    const bool canRegenerate = m_model.canRegenerate(index);
    row->setIsLast(true);
    row->setCanRegenerate(canRegenerate);
    row->setCanContinue(canRegenerate && m_canContinue && m_canContinue());
}

void MessageList::release(int index)
{
    Entry &entry = m_entries[index];
    if (!entry.row)
        return;
    entry.reasoningChoice = entry.row->reasoningChoice();
    entry.row->hide();
    // Later: the change may come from one of the row's own buttons.
    entry.row->deleteLater();
    entry.row = nullptr;
    const auto at = std::lower_bound(m_built.begin(), m_built.end(), index);
    if (at != m_built.end() && *at == index)
        m_built.erase(at);
}

void MessageList::placeRows()
{
    const int width = this->width();
    for (const int index : QList<int>(m_built)) {
        const Entry &entry = m_entries[index];
        if (!entry.row)
            continue;
        const QRect place(0, entry.top, width, entry.height);
        if (entry.row->geometry() != place)
            entry.row->setGeometry(place);
        if (entry.row->isHidden())
            entry.row->show();
    }
}

void MessageList::resizeTo(int height)
{
    if (height == this->height() && minimumHeight() == height)
        return;
    setFixedHeight(height);
    // The scroll area takes the new height now rather than on a later turn
    // of the event loop, so that the view can be moved with what changed
    // above it before anything is painted.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    if (m_area) {
        QEvent request(QEvent::LayoutRequest);
        QCoreApplication::sendEvent(m_area, &request);
    }
}

QPair<int, int> MessageList::viewSpan() const
{
    const int height = m_area ? m_area->viewport()->height() : assumedViewHeight;
    if (m_assumeEnd || !m_area || !m_area->viewport()->isAncestorOf(this)) {
        const int end = contentHeight();
        return { end - height, end };
    }
    const int top = -mapTo(m_area->viewport(), QPoint(0, 0)).y();
    return { top, top + height };
}

int MessageList::contentHeight() const
{
    return m_entries.isEmpty() ? 0 : m_entries.last().top + m_entries.last().height;
}
