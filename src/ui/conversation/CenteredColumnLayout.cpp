#include "ui/conversation/CenteredColumnLayout.h"

#include <QWidget>

CenteredColumnLayout::CenteredColumnLayout(int maxWidth, QWidget *parent)
    : QLayout(parent)
    , m_maxWidth(maxWidth)
{
    setContentsMargins(0, 0, 0, 0);
}

CenteredColumnLayout::~CenteredColumnLayout()
{
    delete m_item;
}

void CenteredColumnLayout::addItem(QLayoutItem *item)
{
    Q_ASSERT(!m_item);
    m_item = item;
}

QLayoutItem *CenteredColumnLayout::itemAt(int index) const
{
    return index == 0 ? m_item : nullptr;
}

QLayoutItem *CenteredColumnLayout::takeAt(int index)
{
    if (index != 0 || !m_item)
        return nullptr;
    QLayoutItem *item = m_item;
    m_item = nullptr;
    return item;
}

int CenteredColumnLayout::count() const
{
    return m_item ? 1 : 0;
}

QSize CenteredColumnLayout::withMargins(QSize size) const
{
    const QMargins m = contentsMargins();
    return size + QSize(m.left() + m.right(), m.top() + m.bottom());
}

QSize CenteredColumnLayout::sizeHint() const
{
    if (!m_item)
        return withMargins({ 0, 0 });
    QSize hint = m_item->sizeHint();
    hint.setWidth(qMin(hint.width(), m_maxWidth));
    return withMargins(hint);
}

// Never wider than the space given: what does not fit must wrap or scroll
// inside itself, and what still does not is cut at its own edge rather than
// pushing the whole column (and everything right of it) out of sight.
QSize CenteredColumnLayout::minimumSize() const
{
    return withMargins(QSize(0, m_item ? m_item->minimumSize().height() : 0));
}

Qt::Orientations CenteredColumnLayout::expandingDirections() const
{
    return Qt::Horizontal | Qt::Vertical;
}

bool CenteredColumnLayout::hasHeightForWidth() const
{
    return m_item && m_item->hasHeightForWidth();
}

int CenteredColumnLayout::columnWidth(int width) const
{
    const QMargins m = contentsMargins();
    return qMax(0, qMin(width - m.left() - m.right(), m_maxWidth));
}

int CenteredColumnLayout::heightForWidth(int width) const
{
    if (!m_item)
        return -1;
    const QMargins m = contentsMargins();
    return m_item->heightForWidth(columnWidth(width)) + m.top() + m.bottom();
}

void CenteredColumnLayout::setGeometry(const QRect &rect)
{
    QLayout::setGeometry(rect);
    if (!m_item)
        return;
    const QRect inner = rect.marginsRemoved(contentsMargins());
    const int width = columnWidth(rect.width());
    const int left = inner.left() + (inner.width() - width) / 2;
    m_item->setGeometry(QRect(left, inner.top(), width, inner.height()));
}
