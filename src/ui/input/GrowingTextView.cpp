#include "ui/input/GrowingTextView.h"

#include "ui/input/InputStyle.h"

#include <QAbstractTextDocumentLayout>
#include <QPointer>
#include <QScrollBar>
#include <QTextBlock>
#include <QTimer>
#include <cmath>

GrowingTextView::GrowingTextView(QWidget *parent)
    : SendTextView(parent)
{
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setBackgroundVisible(false);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Base, Qt::transparent);
    setPalette(palette);
    viewport()->setAutoFillBackground(false);
    // No inset at the sides, 4 above and below: the text lines up with the
    // rest of the bar, and scrolled lines stop short of its edges.
    document()->setDocumentMargin(0);
    setViewportMargins(0, InputStyle::editorInsetY, 0, InputStyle::editorInsetY);

    connect(this, &QPlainTextEdit::textChanged, this, [this] {
        if (!m_replacing)
            Q_EMIT textEdited(text());
    });
    connect(document(), &QTextDocument::contentsChanged, this, &GrowingTextView::followTextHeight);
    followTextHeight();
}

QString GrowingTextView::text() const
{
    // toPlainText() would also turn non-breaking spaces into plain ones.
    QString raw = document()->toRawText();
    for (QChar &c : raw) {
        if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator)
            c = QLatin1Char('\n');
    }
    return raw;
}

void GrowingTextView::setText(const QString &text)
{
    if (text == this->text())
        return;
    m_replacing = true;
    document()->setUndoRedoEnabled(false);
    QTextCursor cursor(document());
    cursor.select(QTextCursor::Document);
    cursor.insertText(text);
    document()->setUndoRedoEnabled(true);
    setTextCursor(cursor);
    m_replacing = false;
    followTextHeight();
}

void GrowingTextView::setFocusToken(int token)
{
    if (token == m_focusToken)
        return;
    m_focusToken = token;
    focusSoon();
}

int GrowingTextView::measuredHeight() const
{
    QAbstractTextDocumentLayout *layout = document()->documentLayout();
    const qreal enough = InputStyle::editorMaxHeight;
    qreal height = 0;
    for (QTextBlock block = document()->begin(); block.isValid() && height <= enough; block = block.next())
        height += layout->blockBoundingRect(block).height();
    // One pixel more: the editor counts a line as fitting only when it ends
    // a pixel short of the bottom.
    return int(std::ceil(height)) + 2 * InputStyle::editorInsetY + 1;
}

void GrowingTextView::showEvent(QShowEvent *event)
{
    SendTextView::showEvent(event);
    if (!m_shownOnce) {
        m_shownOnce = true;
        focusSoon();
    }
}

// A new width wraps the lines differently.
void GrowingTextView::resizeEvent(QResizeEvent *event)
{
    SendTextView::resizeEvent(event);
    followTextHeight();
}

void GrowingTextView::changeEvent(QEvent *event)
{
    SendTextView::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        followTextHeight();
}

void GrowingTextView::followTextHeight()
{
    const int height = std::clamp(measuredHeight(), InputStyle::editorMinHeight, InputStyle::editorMaxHeight);
    if (height == minimumHeight() && height == maximumHeight())
        return;
    setFixedHeight(height);
}

// Deferred, so that focus never moves in the middle of an update of the
// views around the editor.
void GrowingTextView::focusSoon()
{
    QTimer::singleShot(0, this, [this] { setFocus(Qt::OtherFocusReason); });
}
