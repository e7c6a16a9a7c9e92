#include "ui/conversation/MessageBubble.h"

#include "ui/markdown/SearchMarks.h"
#include "ui/style/Palette.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTextDocument>
#include <cmath>
#include <memory>

MessageBubble::MessageBubble(QWidget *parent)
    : SelectableText(parent)
{
    setPadding(QMargins(14, 10, 14, 10));
}

void MessageBubble::setText(const QString &text)
{
    if (text == m_text && !document()->isEmpty())
        return;
    m_text = text;
    m_measuredWidth = -1;
    setPlainText(text);
    setAccessibleName(text);
    updateMarks();
}

void MessageBubble::setMarkedWords(const QStringList &foldedWords)
{
    if (foldedWords == m_markedWords)
        return;
    m_markedWords = foldedWords;
    updateMarks();
}

// Painted over the text as extra selections: the document itself stays as
// the person wrote it.
void MessageBubble::updateMarks()
{
    QList<ExtraSelection> marks;
    const QTextCharFormat look = SearchMarks::format(palette());
    for (const SearchMarks::Span &span : SearchMarks::find(*document(), m_markedWords)) {
        QTextCursor cursor(document());
        cursor.setPosition(span.position);
        cursor.setPosition(span.position + span.length, QTextCursor::KeepAnchor);
        marks.append({ cursor, look });
    }
    setExtraSelections(marks);
}

int MessageBubble::naturalWidth() const
{
    if (m_measuredWidth < 0) {
        // Laid out as shown, tabs included, but on lines as long as they are.
        const std::unique_ptr<QTextDocument> probe(document()->clone());
        probe->setTextWidth(-1);
        m_measuredWidth = int(std::ceil(probe->idealWidth()));
    }
    return m_measuredWidth;
}

QSize MessageBubble::sizeHint() const
{
    const QMargins m = viewportMargins();
    // One spare pixel so that rounding never wraps the last word.
    const int width = naturalWidth() + m.left() + m.right() + 1;
    return { width, heightForWidth(width) };
}

// The bubble is painted on the widget itself, around the text's own area.
bool MessageBubble::event(QEvent *event)
{
    if (event->type() == QEvent::FontChange)
        m_measuredWidth = -1;
    if (event->type() == QEvent::PaletteChange && !m_markedWords.isEmpty())
        updateMarks(); // the marks' colours follow light and dark
    if (event->type() == QEvent::Paint) {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), 18, 18);
        painter.fillPath(shape, Palette::accent(this, 0.16));
    }
    return SelectableText::event(event);
}
