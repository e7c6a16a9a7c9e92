#include "input/SendTextView.h"

#include "conversation/PasteboardImages.h"
#include "input/InputStyle.h"

#include <QKeyEvent>
#include <QMimeData>
#include <QTextBlock>
#include <QTextLayout>

namespace {

bool isReturn(const QKeyEvent *event)
{
    return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
}

// Whether data may hold something a paste would attach; the images are
// read only when the paste happens.
bool mayHoldImages(const QMimeData &data)
{
    if (data.hasImage())
        return true;
    for (const QUrl &url : data.urls()) {
        if (url.isLocalFile())
            return true;
    }
    for (const QString &format : data.formats()) {
        if (format.startsWith(QLatin1String("image/")))
            return true;
    }
    return false;
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
    return mayHoldImages(*source) || QPlainTextEdit::canInsertFromMimeData(source);
}

void SendTextView::insertFromMimeData(const QMimeData *source)
{
    const QList<QImage> images = PasteboardImages::forPaste(*source);
    if (!images.isEmpty()) {
        Q_EMIT imagesPasted(images);
        return;
    }
    QPlainTextEdit::insertFromMimeData(source);
}
