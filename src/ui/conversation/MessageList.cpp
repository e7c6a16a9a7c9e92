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
    for (int i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].row)
            follow(m_entries[i].row, i);
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
    for (const Entry &entry : m_entries) {
        if (entry.row)
            built.append(entry.row);
    }
    return built;
}

MessageRow *MessageList::row(const QUuid &id) const
{
    for (const Entry &entry : m_entries) {
        if (entry.id == id)
            return entry.row;
    }
    return nullptr;
}

void MessageList::setMarkedWords(const QStringList &foldedWords)
{
    m_markedWords = foldedWords;
    for (const Entry &entry : std::as_const(m_entries)) {
        if (entry.row)
            entry.row->setMarkedWords(foldedWords);
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
    for (Entry &entry : m_entries)
        release(entry);
    m_entries.clear();
    const int count = m_model.rowCount();
    m_entries.reserve(count);
    for (int i = 0; i < count; ++i)
        m_entries.append(Entry{ m_model.message(i).id });
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
    for (int i = first; i <= last; ++i)
        m_entries.insert(i, Entry{ m_model.message(i).id });
    update();
}

void MessageList::onRemoved(int first, int last)
{
    for (int i = last; i >= first; --i) {
        release(m_entries[i]);
        m_entries.removeAt(i);
    }
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
        }
    }
    update();
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

// One round: measures the rows that exist and estimates the others, moves
// the view with what changed above it, builds the rows near the view and
// releases those far from it. Returns whether it built a row, whose height
// the next round measures.
bool MessageList::updatePass()
{
    const int width = qMax(1, this->width());
    const auto [viewTop, viewBottom] = viewSpan();
    int deltaAbove = 0;
    int y = 0;
    for (int i = 0; i < m_entries.size(); ++i) {
        Entry &entry = m_entries[i];
        const int old = entry.height;
        if (entry.row)
            measure(entry, width);
        else if (entry.width != width) {
            entry.height = estimate(i, width);
            entry.width = width;
        }
        if (y + old <= viewTop)
            deltaAbove += entry.height - old;
        y += old + rowSpacing;
    }

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
    bool built = false;
    y = 0;
    for (int i = 0; i < m_entries.size(); ++i) {
        Entry &entry = m_entries[i];
        const int top = y;
        const int bottom = y + entry.height;
        y = bottom + rowSpacing;
        if (!entry.row && bottom >= buildTop && top <= buildBottom) {
            build(i);
            built = true;
        } else if (entry.row && (bottom < releaseTop || top > releaseBottom)
            && !(focus && entry.row->isAncestorOf(focus))) {
            release(entry);
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

bool MessageList::measure(Entry &entry, int width)
{
    const int height
        = entry.row->hasHeightForWidth() ? entry.row->heightForWidth(width) : entry.row->sizeHint().height();
    const bool changed = height != entry.height;
    entry.height = height;
    entry.width = width;
    return changed;
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
    for (qsizetype next = index + 1; next < m_entries.size(); ++next) {
        if (m_entries[next].row) {
            row->stackUnder(m_entries[next].row);
            break;
        }
    }
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

void MessageList::release(Entry &entry)
{
    if (!entry.row)
        return;
    entry.reasoningChoice = entry.row->reasoningChoice();
    entry.row->hide();
    // Later: the change may come from one of the row's own buttons.
    entry.row->deleteLater();
    entry.row = nullptr;
}

void MessageList::placeRows()
{
    const int width = this->width();
    int y = 0;
    for (const Entry &entry : std::as_const(m_entries)) {
        if (entry.row) {
            const QRect place(0, y, width, entry.height);
            if (entry.row->geometry() != place)
                entry.row->setGeometry(place);
            if (entry.row->isHidden())
                entry.row->show();
        }
        y += entry.height + rowSpacing;
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

int MessageList::topOf(int index) const
{
    int top = 0;
    for (int i = 0; i < index; ++i)
        top += m_entries[i].height + rowSpacing;
    return top;
}

int MessageList::contentHeight() const
{
    int height = 0;
    for (const Entry &entry : m_entries)
        height += entry.height;
    if (!m_entries.isEmpty())
        height += rowSpacing * int(m_entries.size() - 1);
    return height;
}
