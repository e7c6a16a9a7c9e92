#include "ui/markdown/CodeTextView.h"

#include "ui/markdown/MarkdownStyle.h"

#include <QAbstractTextDocumentLayout>
#include <QCoreApplication>
#include <QScrollBar>
#include <QTextCursor>
#include <QWheelEvent>
#include <QtMath>

CodeTextView::CodeTextView(QWidget *parent)
    : QTextEdit(parent)
{
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setAcceptRichText(false);
    setLineWrapMode(QTextEdit::NoWrap);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFrameShape(QFrame::NoFrame);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    viewport()->setAutoFillBackground(false);
    setFont(MarkdownStyle::codeFont());
    setTabStopDistance(fontMetrics().horizontalAdvance(QLatin1Char(' ')) * 4);
    document()->setDocumentMargin(12);
    document()->setUndoRedoEnabled(false);
    connect(document()->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged, this,
        &CodeTextView::fitHeight);
    fitHeight();
}

void CodeTextView::setCode(const QString &code)
{
    if (code == m_code)
        return;
    if (!m_code.isEmpty() && code.startsWith(m_code)) {
        QTextCursor end(document());
        end.movePosition(QTextCursor::End);
        end.insertText(code.sliced(m_code.size()));
    } else {
        setPlainText(code);
    }
    m_code = code;
}

QSize CodeTextView::sizeHint() const
{
    const QSizeF size = document()->size();
    return { qCeil(size.width()), qCeil(size.height()) };
}

QSize CodeTextView::minimumSizeHint() const
{
    return { 0, sizeHint().height() };
}

void CodeTextView::wheelEvent(QWheelEvent *event)
{
    const QPoint delta = event->angleDelta();
    const bool sideways = qAbs(delta.x()) > qAbs(delta.y());
    if (sideways || event->modifiers().testFlag(Qt::ShiftModifier)) {
        QWheelEvent horizontal(event->position(), event->globalPosition(), event->pixelDelta(), delta,
            event->buttons(), event->modifiers() & ~Qt::ShiftModifier, event->phase(), event->inverted(),
            event->source());
        QCoreApplication::sendEvent(horizontalScrollBar(), &horizontal);
        event->setAccepted(horizontal.isAccepted());
        return;
    }
    event->ignore();
}

void CodeTextView::fitHeight()
{
    setFixedHeight(sizeHint().height());
}
