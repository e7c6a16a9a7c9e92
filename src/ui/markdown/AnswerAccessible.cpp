#include "ui/markdown/AnswerAccessible.h"

#include "ui/markdown/AnswerView.h"

#include <QTextDocument>

namespace {

QAccessibleInterface *answerFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("AnswerView") && object && object->isWidgetType())
        return new AnswerAccessible(static_cast<AnswerView *>(object));
    return nullptr;
}

} // namespace

AnswerAccessible::AnswerAccessible(AnswerView *view)
    : QAccessibleWidget(view, QAccessible::StaticText)
{
}

void AnswerAccessible::install()
{
    static const bool installed = [] {
        QAccessible::installFactory(answerFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

AnswerView *AnswerAccessible::view() const
{
    return static_cast<AnswerView *>(widget());
}

void *AnswerAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface *>(this);
    return QAccessibleWidget::interface_cast(type);
}

QString AnswerAccessible::text(QAccessible::Text type) const
{
    if ((type == QAccessible::Name || type == QAccessible::Value) && view()->accessibleName().isEmpty())
        return view()->toPlainText();
    return QAccessibleWidget::text(type);
}

void AnswerAccessible::selection(int selectionIndex, int *startOffset, int *endOffset) const
{
    *startOffset = *endOffset = 0;
    if (selectionIndex != 0 || !view()->hasSelection())
        return;
    *startOffset = qMin(view()->selectionAnchor(), view()->selectionPosition());
    *endOffset = qMax(view()->selectionAnchor(), view()->selectionPosition());
}

int AnswerAccessible::selectionCount() const
{
    return view()->hasSelection() ? 1 : 0;
}

void AnswerAccessible::addSelection(int startOffset, int endOffset)
{
    view()->select(startOffset, endOffset);
}

void AnswerAccessible::removeSelection(int selectionIndex)
{
    if (selectionIndex == 0)
        view()->clearSelection();
}

void AnswerAccessible::setSelection(int selectionIndex, int startOffset, int endOffset)
{
    if (selectionIndex == 0)
        view()->select(startOffset, endOffset);
}

int AnswerAccessible::cursorPosition() const
{
    return view()->selectionPosition();
}

void AnswerAccessible::setCursorPosition(int position)
{
    view()->select(position, position);
}

QString AnswerAccessible::text(int startOffset, int endOffset) const
{
    return view()->toPlainText().mid(startOffset, endOffset - startOffset);
}

int AnswerAccessible::characterCount() const
{
    return view()->document()->characterCount() - 1;
}

QRect AnswerAccessible::characterRect(int offset) const
{
    const QRect rect = view()->characterRect(offset);
    return rect.isNull() ? QRect() : QRect(view()->mapToGlobal(rect.topLeft()), rect.size());
}

int AnswerAccessible::offsetAtPoint(const QPoint &point) const
{
    return view()->positionAt(view()->mapFromGlobal(point));
}

void AnswerAccessible::scrollToSubstring(int startIndex, int endIndex)
{
    Q_UNUSED(startIndex);
    Q_UNUSED(endIndex);
}

QString AnswerAccessible::attributes(int offset, int *startOffset, int *endOffset) const
{
    *startOffset = *endOffset = offset;
    return {};
}
