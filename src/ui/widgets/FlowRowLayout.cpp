#include "ui/widgets/FlowRowLayout.h"

#include <QWidget>

namespace {

struct Placed {
    QLayoutItem *item;
    int x;
    QSize size;
};

} // namespace

FlowRowLayout::FlowRowLayout(int spacing, int lineSpacing, QWidget *parent)
    : QLayout(parent)
    , m_spacing(spacing)
    , m_lineSpacing(lineSpacing)
{
    setContentsMargins(0, 0, 0, 0);
}

FlowRowLayout::~FlowRowLayout()
{
    qDeleteAll(m_items);
}

void FlowRowLayout::addItem(QLayoutItem *item)
{
    m_items.append(item);
}

QLayoutItem *FlowRowLayout::itemAt(int index) const
{
    return m_items.value(index);
}

QLayoutItem *FlowRowLayout::takeAt(int index)
{
    return index >= 0 && index < m_items.size() ? m_items.takeAt(index) : nullptr;
}

int FlowRowLayout::count() const
{
    return int(m_items.size());
}

Qt::Orientations FlowRowLayout::expandingDirections() const
{
    return {};
}

bool FlowRowLayout::hasHeightForWidth() const
{
    return true;
}

int FlowRowLayout::heightForWidth(int width) const
{
    return arrange(QRect(0, 0, width, 0), false);
}

QSize FlowRowLayout::sizeHint() const
{
    int width = 0;
    int height = 0;
    for (QLayoutItem *item : m_items) {
        if (item->isEmpty())
            continue;
        const QSize hint = item->sizeHint();
        width += (width > 0 ? m_spacing : 0) + hint.width();
        height = qMax(height, hint.height());
    }
    const QMargins m = contentsMargins();
    return { width + m.left() + m.right(), height + m.top() + m.bottom() };
}

// Any item may sit on a line of its own.
QSize FlowRowLayout::minimumSize() const
{
    QSize size(0, 0);
    for (QLayoutItem *item : m_items) {
        if (!item->isEmpty())
            size = size.expandedTo(item->minimumSize());
    }
    const QMargins m = contentsMargins();
    return size + QSize(m.left() + m.right(), m.top() + m.bottom());
}

void FlowRowLayout::setGeometry(const QRect &rect)
{
    QLayout::setGeometry(rect);
    arrange(rect, true);
}

int FlowRowLayout::arrange(const QRect &rect, bool apply) const
{
    const QMargins m = contentsMargins();
    const QRect area = rect.marginsRemoved(m);
    const int lineWidth = qMax(1, area.width());
    QList<Placed> line;
    int x = 0;
    int lineHeight = 0;
    int y = area.top();
    const auto finishLine = [&] {
        for (const Placed &placed : std::as_const(line)) {
            if (apply) {
                const int top = y + (lineHeight - placed.size.height()) / 2;
                placed.item->setGeometry(QRect(QPoint(area.left() + placed.x, top), placed.size));
            }
        }
        y += lineHeight + m_lineSpacing;
        line.clear();
        x = 0;
        lineHeight = 0;
    };
    for (QLayoutItem *item : m_items) {
        if (item->isEmpty())
            continue;
        const int width = qMin(item->sizeHint().width(), lineWidth);
        if (!line.isEmpty() && x + width > lineWidth)
            finishLine();
        const int height
            = item->hasHeightForWidth() ? item->heightForWidth(width) : item->sizeHint().height();
        line.append({ item, x, QSize(width, height) });
        lineHeight = qMax(lineHeight, height);
        x += width + m_spacing;
    }
    if (!line.isEmpty())
        finishLine();
    const int used = y > area.top() ? y - m_lineSpacing - area.top() : 0;
    return used + m.top() + m.bottom();
}
