#include "ui/input/SendTextView.h"

#include "ui/input/InputStyle.h"

#include <QKeyEvent>
#include <QMimeData>
#include <QTextBlock>
#include <QTextLayout>

namespace {

bool isReturn(const QKeyEvent *event)
{
    return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
}

} // namespace

SendTextView::SendTextView(QWidget *parent)
    : QPlainTextEdit(parent)
{
    setTabChangesFocus(true);
    setUndoRedoEnabled(true);
    QFont font = this->font();
    font.setPixelSize(InputStyle::textPixelSize);
    setFont(font);
}

void SendTextView::keyPressEvent(QKeyEvent *event)
{
    if (!isReturn(event) || isComposing()) {
        QPlainTextEdit::keyPressEvent(event);
        return;
    }
    event->accept();
    if (event->modifiers() & (Qt::ShiftModifier | Qt::AltModifier)) {
        textCursor().insertText(QStringLiteral("\n"));
        ensureCursorVisible();
        return;
    }
    Q_EMIT sendRequested();
}

bool SendTextView::isComposing() const
{
    const QTextLayout *layout = textCursor().block().layout();
    return layout && !layout->preeditAreaText().isEmpty();
}

bool SendTextView::canInsertFromMimeData(const QMimeData *source) const
{
    return PasteboardImages::mayHoldImages(*source) || QPlainTextEdit::canInsertFromMimeData(source);
}

void SendTextView::insertFromMimeData(const QMimeData *source)
{
    const PasteboardImages::Sources images = PasteboardImages::ofPaste(*source);
    if (!images.isEmpty()) {
        Q_EMIT imagesPasted(images);
        return;
    }
    QPlainTextEdit::insertFromMimeData(source);
}
