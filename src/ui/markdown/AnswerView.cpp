#include "ui/markdown/AnswerView.h"

#include "core/markdown/InlineRuns.h"
#include "ui/markdown/AnswerAccessible.h"
#include "ui/markdown/CodeCopyButton.h"
#include "ui/markdown/MarkdownStyle.h"
#include "ui/style/Palette.h"
#include "ui/widgets/RoundedPanel.h"

#include <QAbstractTextDocumentLayout>
#include <QAccessible>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QTextLayout>
#include <QUrl>
#include <QtMath>

namespace {

using Kind = MDBlock::Kind;

constexpr int cornerRadius = 10;
constexpr int quoteBarWidth = 3;
constexpr int copyButtonInset = 6;
constexpr int keptHeights = 4; // other widths whose heights are remembered

Kind kindOf(const QTextBlock &block)
{
    return Kind(block.blockFormat().intProperty(MarkdownDocument::blockKindProperty));
}

QString captionOf(const QString &language)
{
    return language.isEmpty() ? QStringLiteral("code") : language;
}

bool isCode(const QTextBlock &block)
{
    return block.blockFormat().hasProperty(MarkdownDocument::codeBlockProperty);
}

// The rectangle a block's lines take, in document coordinates.
QRectF linesRect(const QTextBlock &block)
{
    const QTextLayout *layout = block.layout();
    if (!layout || layout->lineCount() == 0)
        return {};
    const QTextLine first = layout->lineAt(0);
    const QTextLine last = layout->lineAt(layout->lineCount() - 1);
    const QPointF at = layout->position();
    return QRectF(at.x(), at.y() + first.y(), 0, last.y() + last.height() - first.y());
}

} // namespace

AnswerView::AnswerView(QWidget *parent)
    : QWidget(parent)
    , m_document(new QTextDocument(this))
    , m_markdown(*m_document)
{
    AnswerAccessible::install();
    m_document->setUndoRedoEnabled(false);
    m_document->setDocumentMargin(0);
    m_document->setDefaultFont(font());
    QTextOption option = m_document->defaultTextOption();
    option.setTabStopDistance(QFontMetricsF(MarkdownStyle::codeFont()).horizontalAdvance(u' ') * 4);
    m_document->setDefaultTextOption(option);
    connect(m_document, &QTextDocument::contentsChange, this, &AnswerView::documentChanged);
    connect(m_document->documentLayout(), &QAbstractTextDocumentLayout::update, this,
        &AnswerView::layoutCaughtUp);
    takeColours();

    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);

    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    // A reply that grows only adds at the bottom: growing taller paints
    // only what is new (a new width paints everything, see resizeEvent).
    setAttribute(Qt::WA_StaticContents);
    setCursor(Qt::IBeamCursor);
}

AnswerView::AnswerView(const QString &text, QWidget *parent)
    : AnswerView(parent)
{
    setText(text);
}

AnswerView::~AnswerView() = default;

void AnswerView::setText(const QString &text)
{
    if (text == m_markdown.text() && !text.isEmpty())
        return;
    m_markdown.setText(text);
    updateMarks();
    Q_EMIT textChanged();
}

void AnswerView::setMarkedWords(const QStringList &foldedWords)
{
    if (foldedWords == m_markedWords)
        return;
    m_markedWords = foldedWords;
    updateMarks();
}

void AnswerView::updateMarks()
{
    QList<SearchMarks::Span> marks = SearchMarks::find(*m_document, m_markedWords);
    if (marks == m_marks)
        return;
    m_marks = std::move(marks);
    update();
}

void AnswerView::addMarks(QList<QTextLayout::FormatRange> &looks, const QTextBlock &block) const
{
    const int start = block.position();
    const int end = start + block.length();
    for (const SearchMarks::Span &mark : m_marks) {
        if (mark.position >= start && mark.position < end)
            looks.append({ mark.position - start, mark.length, SearchMarks::format(palette()) });
    }
}

QString AnswerView::toPlainText() const
{
    return MarkdownDocument::plainText(*m_document);
}

// The document tells of a change before its layout has taken it in: what
// depends on where lines are waits for the layout (layoutCaughtUp).
void AnswerView::documentChanged(int from, int removed, int added)
{
    const int end = m_document->characterCount() - 1;
    if (m_anchor > end || m_position > end)
        updateSelection(qMin(m_anchor, end), qMin(m_position, end));
    announceChange(from, removed, added);
    m_changedFrom = qMin(m_changedFrom, from);
}

void AnswerView::layoutCaughtUp()
{
    if (m_changedFrom == noChange)
        return;
    const int from = std::exchange(m_changedFrom, noChange);
    // Panels that end before the change keep their place; the rest are
    // placed again, looking for code only from where the change begins (or
    // the panel it falls in): a flush costs what changed, not the answer.
    int scanFrom = from;
    while (!m_codePanels.isEmpty() && m_codePanels.last().end >= from) {
        scanFrom = qMin(scanFrom, m_codePanels.last().start);
        m_codePanels.removeLast();
    }
    placeCodePanels(scanFrom);
    updateGeometry();
    // Lines above the one that changed keep their place: only what is
    // below it is painted again (a code panel's corner reaches a little up).
    const QTextBlock changed = m_document->findBlock(from);
    int top = 0;
    if (changed.isValid() && changed.layout()->lineCount() > 0) {
        const QTextLayout *layout = changed.layout();
        QTextLine line = layout->lineForTextPosition(from - changed.position());
        if (!line.isValid())
            line = layout->lineAt(layout->lineCount() - 1);
        top = qFloor(layout->position().y() + line.y()) - cornerRadius;
    }
    update(QRect(0, top, width(), qMax(height(), exactHeight()) - top));
}

// A screen reader that follows the answer hears what a flush added. The
// text removed is gone by now; the event only needs its length.
void AnswerView::announceChange(int from, int removed, int added)
{
    if (!QAccessible::isActive() || !isVisible() || (removed == 0 && added == 0))
        return;
    QTextCursor cursor(m_document);
    cursor.setPosition(qMin(from, m_document->characterCount() - 1));
    cursor.setPosition(qMin(from + added, m_document->characterCount() - 1), QTextCursor::KeepAnchor);
    const QString inserted = cursor.selection().toPlainText();
    if (removed == 0) {
        QAccessibleTextInsertEvent event(this, from, inserted);
        QAccessible::updateAccessibility(&event);
    } else {
        QAccessibleTextUpdateEvent event(this, from, QString(removed, u' '), inserted);
        QAccessible::updateAccessibility(&event);
    }
}

// The document is laid out at the width last asked for; it follows the
// view's own width before anything is painted or hit.
void AnswerView::followWidth(int width) const
{
    if (!qFuzzyCompare(m_document->textWidth(), qreal(width)))
        m_document->setTextWidth(width);
}

int AnswerView::exactHeight() const
{
    int height = qCeil(m_document->documentLayout()->documentSize().height());
    // The document leaves out the last block's bottom margin: a reply that
    // ends in code still needs the bottom of its panel.
    const QTextBlock last = m_document->lastBlock();
    if (isCode(last))
        height = qMax(height, qCeil(linesRect(last).bottom()) + MarkdownDocument::codePadding);
    return height;
}

int AnswerView::heightForWidth(int width) const
{
    if (m_shownWidth <= 0 || width == m_shownWidth) {
        followWidth(width);
        return exactHeight(); // laid out only where it changed
    }
    // Another width than the one shown: a scroll area asks for the width
    // without its scroll bar, a layout for its hint. Laying the whole
    // document out at that width and back at every flush would cost twice
    // what the flush does, so the height measured there once follows what
    // the document grew by at the width shown.
    followWidth(m_shownWidth);
    const int shown = exactHeight();
    for (const Measured &measured : std::as_const(m_measured)) {
        if (measured.width == width)
            return qMax(0, measured.height + shown - measured.shownHeight);
    }
    followWidth(width);
    const int height = exactHeight();
    followWidth(m_shownWidth);
    if (m_measured.size() >= keptHeights)
        m_measured.removeFirst();
    m_measured.append({ width, height, shown });
    return height;
}

QSize AnswerView::sizeHint() const
{
    // No wider than it was given: the column decides the width.
    const int width = m_shownWidth > 0 ? m_shownWidth : 400;
    return { width, heightForWidth(width) };
}

QSize AnswerView::minimumSizeHint() const
{
    return { 60, 0 };
}

void AnswerView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // Growing taller as a reply streams in moves nothing.
    if (width() == m_shownWidth)
        return;
    m_shownWidth = width();
    m_measured.clear();
    followWidth(width());
    // A long paragraph cut at line ends is cut for the old width.
    if (m_markdown.hasCuts())
        m_markdown.rewrite();
    m_codePanels.clear();
    placeCodePanels(0);
    update();
}

void AnswerView::placeCodePanels(int from)
{
    followWidth(width());
    m_document->documentLayout()->documentSize(); // lays out what changed
    // From the block after the last panel kept, or from the block where the
    // change begins when that is later.
    QTextBlock block = m_codePanels.isEmpty() ? m_document->begin()
                                              : m_document->findBlock(m_codePanels.last().end).next();
    const QTextBlock changed = m_document->findBlock(from);
    if (changed.isValid() && changed.blockNumber() > block.blockNumber())
        block = changed;
    const qsizetype kept = m_codePanels.size();
    for (; block.isValid(); block = block.next()) {
        if (!isCode(block))
            continue;
        const int index = codeIndexOf(block);
        QTextBlock last = block;
        int right = 0;
        for (QTextBlock line = block; line.isValid() && isCode(line) && codeIndexOf(line) == index;
             line = line.next()) {
            last = line;
            const QTextLayout *layout = line.layout();
            for (int i = 0; i < layout->lineCount(); ++i) {
                const QTextLine text = layout->lineAt(i);
                right = qMax(right, qCeil(layout->position().x() + text.x() + text.naturalTextWidth()));
            }
        }
        const int top = qFloor(linesRect(block).top()) - MarkdownDocument::codeCaptionHeight
            - MarkdownDocument::codePadding;
        const int bottom = qCeil(linesRect(last).bottom()) + MarkdownDocument::codePadding;
        m_codePanels.append({ block.position(), last.position() + last.length() - 1,
            QRect(0, top, width(), bottom - top), right + MarkdownDocument::codePadding });
        block = last;
    }
    m_scrolls.resize(m_codePanels.size());
    for (qsizetype i = kept; i < m_codePanels.size(); ++i)
        m_scrolls[i] = qMin(m_scrolls[i], maxScroll(int(i)));

    while (m_copyButtons.size() > m_codePanels.size()) {
        CodeCopyButton *button = m_copyButtons.takeLast();
        button->hide();
        button->deleteLater(); // it may be what the click that changed things came from
    }
    for (qsizetype i = kept; i < m_codePanels.size(); ++i) {
        if (i == m_copyButtons.size()) {
            const int index = int(i);
            auto *button = new CodeCopyButton([this, index] { return codeOf(index); }, this);
            button->setCopiedInterval(m_copiedInterval);
            button->show();
            m_copyButtons.append(button);
        }
        CodeCopyButton *button = m_copyButtons[i];
        const QRect &rect = m_codePanels[i].rect;
        button->move(rect.right() - copyButtonInset - button->width(),
            rect.top() + (MarkdownDocument::codeCaptionHeight - button->height()) / 2);
    }
}

int AnswerView::codeIndexOf(const QTextBlock &block) const
{
    return block.blockFormat().intProperty(MarkdownDocument::codeBlockProperty);
}

int AnswerView::scrollOf(const QTextBlock &block) const
{
    return isCode(block) ? m_scrolls.value(codeIndexOf(block)) : 0;
}

int AnswerView::maxScroll(int index) const
{
    const CodePanel &panel = m_codePanels[index];
    return qMax(0, panel.contentWidth - panel.rect.width());
}

QString AnswerView::codeOf(int index) const
{
    if (index >= m_codePanels.size())
        return {};
    QStringList lines;
    const CodePanel &panel = m_codePanels[index];
    for (QTextBlock line = m_document->findBlock(panel.start); line.isValid() && line.position() <= panel.end;
         line = line.next())
        lines.append(line.text());
    return lines.join(u'\n');
}

QList<AnswerView::CodeBlock> AnswerView::codeBlocks() const
{
    QList<CodeBlock> blocks;
    for (qsizetype i = 0; i < m_codePanels.size(); ++i) {
        const QString language = m_document->findBlock(m_codePanels[i].start)
                                     .blockFormat()
                                     .stringProperty(MarkdownDocument::codeLanguageProperty);
        blocks.append({ language, captionOf(language), codeOf(int(i)), m_codePanels[i].rect });
    }
    return blocks;
}

void AnswerView::setCopiedInterval(int milliseconds)
{
    m_copiedInterval = milliseconds;
    for (CodeCopyButton *button : std::as_const(m_copyButtons))
        button->setCopiedInterval(milliseconds);
}

QTextBlock AnswerView::blockAt(qreal y) const
{
    followWidth(width());
    m_document->documentLayout()->documentSize();
    // The last block that starts above y.
    int low = 0;
    int high = m_document->blockCount() - 1;
    while (low < high) {
        const int middle = (low + high + 1) / 2;
        if (m_document->findBlockByNumber(middle).layout()->position().y() <= y)
            low = middle;
        else
            high = middle - 1;
    }
    return m_document->findBlockByNumber(low);
}

int AnswerView::positionIn(const QTextBlock &block, const QPointF &point, bool onCharacter) const
{
    const QTextLayout *layout = block.layout();
    if (!layout || layout->lineCount() == 0)
        return block.position();
    QPointF local = point - layout->position();
    local.rx() += scrollOf(block);
    QTextLine line = layout->lineAt(0);
    for (int i = 1; i < layout->lineCount() && local.y() >= line.y() + line.height(); ++i)
        line = layout->lineAt(i);
    if (onCharacter
        && (local.x() < line.x() || local.x() >= line.x() + line.naturalTextWidth() || local.y() < line.y()
            || local.y() >= line.y() + line.height()))
        return -1;
    return block.position()
        + line.xToCursor(
            local.x(), onCharacter ? QTextLine::CursorOnCharacter : QTextLine::CursorBetweenCharacters);
}

int AnswerView::positionAt(const QPointF &point) const
{
    return positionIn(blockAt(point.y()), point, false);
}

QRect AnswerView::characterRect(int position) const
{
    followWidth(width());
    const QTextBlock block = m_document->findBlock(position);
    const QTextLayout *layout = block.isValid() ? block.layout() : nullptr;
    if (!layout || layout->lineCount() == 0)
        return {};
    m_document->documentLayout()->documentSize();
    const int offset = position - block.position();
    const QTextLine line = layout->lineForTextPosition(offset);
    if (!line.isValid())
        return {};
    const qreal x = line.cursorToX(offset);
    const qreal next = offset + 1 < block.length() ? line.cursorToX(offset + 1) : x + 1;
    const QPointF at = layout->position() + QPointF(qMin(x, next) - scrollOf(block), line.y());
    return QRectF(at, QSizeF(qMax(1.0, qAbs(next - x)), line.height())).toAlignedRect();
}

QString AnswerView::linkAt(const QPointF &point) const
{
    const QTextBlock block = blockAt(point.y());
    const int position = positionIn(block, point, true);
    if (position < 0)
        return {};
    for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        if (fragment.contains(position))
            return fragment.charFormat().isAnchor() ? fragment.charFormat().anchorHref() : QString();
    }
    return {};
}

QString AnswerView::selectedText() const
{
    if (!hasSelection())
        return {};
    // Positions and characters of the plain text are one to one.
    return toPlainText().mid(qMin(m_anchor, m_position), qAbs(m_position - m_anchor));
}

void AnswerView::select(int anchor, int position)
{
    const int end = m_document->characterCount() - 1;
    updateSelection(qBound(0, anchor, end), qBound(0, position, end));
}

void AnswerView::selectAll()
{
    select(0, m_document->characterCount() - 1);
}

void AnswerView::updateSelection(int anchor, int position)
{
    if (anchor == m_anchor && position == m_position)
        return;
    m_anchor = anchor;
    m_position = position;
    update();
    if (QAccessible::isActive()) {
        QAccessibleTextSelectionEvent changed(this, qMin(anchor, position), qMax(anchor, position));
        QAccessible::updateAccessibility(&changed);
    }
    Q_EMIT selectionChanged();
}

void AnswerView::copy() const
{
    if (hasSelection())
        QGuiApplication::clipboard()->setText(selectedText());
}

void AnswerView::openLink(const QString &link)
{
    // The document only links these schemes; checked again since a click
    // would hand over whatever href it holds.
    if (InlineMarkdown::isAllowedLink(link))
        QDesktopServices::openUrl(QUrl(link));
}

bool AnswerView::event(QEvent *event)
{
    if (event->type() == QEvent::ShortcutOverride) {
        // Copy and select all are this view's while it has focus.
        auto *key = static_cast<QKeyEvent *>(event);
        if (key == QKeySequence::Copy || key == QKeySequence::SelectAll) {
            event->accept();
            return true;
        }
    }
    return QWidget::event(event);
}

void AnswerView::takeColours()
{
    m_markdown.setColours(palette().color(QPalette::Link), Palette::secondary(palette()));
}

void AnswerView::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange && m_document->defaultFont() != font()) {
        m_document->setDefaultFont(font());
        m_measured.clear();
        m_markdown.rewrite();
    }
    // Links and markers carry their colours in the document; the rest is
    // read from the palette at paint time.
    if (event->type() == QEvent::PaletteChange)
        takeColours();
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange)
        update();
}

void AnswerView::paintEvent(QPaintEvent *event)
{
    followWidth(width());
    QPainter painter(this);
    const QRect clip = event->rect();
    for (qsizetype i = 0; i < m_codePanels.size(); ++i) {
        if (m_codePanels[i].rect.intersects(clip))
            paintPanel(painter, int(i), m_codePanels[i]);
    }
    for (QTextBlock block = blockAt(clip.top()); block.isValid(); block = block.next()) {
        if (block.layout()->position().y() > clip.bottom())
            break;
        paintBlock(painter, block, clip);
    }
}

void AnswerView::paintPanel(QPainter &painter, int index, const CodePanel &panel) const
{
    const QRect &rect = panel.rect;
    RoundedPanel::fill(painter, rect, cornerRadius, Palette::primary(palette(), 0.04));
    const QRect header(rect.x(), rect.y(), rect.width(), MarkdownDocument::codeCaptionHeight);
    RoundedPanel::fill(
        painter, header, cornerRadius, Palette::primary(palette(), 0.06), RoundedPanel::Corners::Top);
    RoundedPanel::outline(painter, rect, cornerRadius, Palette::primary(palette(), 0.08));

    const QString language = m_document->findBlock(panel.start)
                                 .blockFormat()
                                 .stringProperty(MarkdownDocument::codeLanguageProperty);
    const QFont caption = MarkdownStyle::captionFont(font());
    const QFontMetrics metrics(caption);
    const CodeCopyButton *button = m_copyButtons.value(index);
    const int right = button ? button->x() - 8 : header.right() - MarkdownDocument::codePadding;
    const QRect room(header.x() + MarkdownDocument::codePadding, header.y(),
        qMax(0, right - header.x() - MarkdownDocument::codePadding), header.height());
    painter.setFont(caption);
    painter.setPen(Palette::secondary(palette()));
    painter.drawText(room, Qt::AlignLeft | Qt::AlignVCenter,
        metrics.elidedText(captionOf(language), Qt::ElideRight, room.width()));
}

void AnswerView::paintBlock(QPainter &painter, const QTextBlock &block, const QRect &clip) const
{
    QTextLayout *layout = block.layout();
    // A block's layout throws its shaped glyphs away after each draw unless
    // told to keep them: every flush would shape every line in view again.
    if (!layout->cacheEnabled())
        layout->setCacheEnabled(true);
    const Kind kind = kindOf(block);
    const bool code = isCode(block);
    QPointF at; // draw() adds the layout's own position
    painter.save();
    if (code) {
        const int index = codeIndexOf(block);
        const CodePanel &panel = m_codePanels.value(index);
        at.rx() -= m_scrolls.value(index);
        // Lines that run past the panel are cut at its inner edge.
        painter.setClipRect(panel.rect.adjusted(1, 0, -1, 0).intersected(clip));
    }
    if (kind == Kind::Quote) {
        const QRectF lines = linesRect(block);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Palette::secondary(palette(), 0.5));
        painter.drawRoundedRect(QRectF(0, lines.top(), quoteBarWidth, lines.height()), 1.5, 1.5);
    }

    // Every range given to draw() draws its lines once more through a clip:
    // only a search's marks and the selection go that way.
    QList<QTextLayout::FormatRange> looks;
    addMarks(looks, block);
    const int from = qMax(qMin(m_anchor, m_position), block.position());
    const int to = qMin(qMax(m_anchor, m_position), block.position() + block.length() - 1);
    if (to > from) {
        QTextLayout::FormatRange selection{ from - block.position(), to - from, {} };
        const QPalette::ColorGroup group = hasFocus() ? QPalette::Active : QPalette::Inactive;
        selection.format.setBackground(palette().brush(group, QPalette::Highlight));
        selection.format.setForeground(palette().brush(group, QPalette::HighlightedText));
        looks.append(selection);
    }

    painter.setPen(kind == Kind::Quote ? Palette::secondary(palette()) : Palette::primary(palette()));
    // Only the lines in the clip are drawn: a paragraph can be taller than
    // the window. (The clip is in view coordinates, as the layout is.)
    layout->draw(&painter, at, looks, QRectF(clip).translated(-at));
    painter.restore();
}

void AnswerView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_pressedLink = linkAt(event->position());
    const int position = positionAt(event->position());
    const bool extend = event->modifiers().testFlag(Qt::ShiftModifier);
    updateSelection(extend ? m_anchor : position, position);
    m_selecting = true;
}

void AnswerView::mouseMoveEvent(QMouseEvent *event)
{
    if (m_selecting && event->buttons().testFlag(Qt::LeftButton)) {
        updateSelection(m_anchor, positionAt(event->position()));
        return;
    }
    setCursor(linkAt(event->position()).isEmpty() ? Qt::IBeamCursor : Qt::PointingHandCursor);
}

void AnswerView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !m_selecting) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    m_selecting = false;
    if (!hasSelection() && !m_pressedLink.isEmpty() && linkAt(event->position()) == m_pressedLink)
        openLink(m_pressedLink);
    m_pressedLink.clear();
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (hasSelection() && clipboard->supportsSelection())
        clipboard->setText(selectedText(), QClipboard::Selection);
}

void AnswerView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    QTextCursor word(m_document);
    word.setPosition(positionAt(event->position()));
    word.select(QTextCursor::WordUnderCursor);
    updateSelection(word.anchor(), word.position());
    m_selecting = false;
}

void AnswerView::keyPressEvent(QKeyEvent *event)
{
    if (event == QKeySequence::Copy) {
        copy();
        return;
    }
    if (event == QKeySequence::SelectAll) {
        selectAll();
        return;
    }
    QWidget::keyPressEvent(event);
}

void AnswerView::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    QAction *copyAction = menu.addAction(QStringLiteral("Copy"), this, &AnswerView::copy);
    copyAction->setEnabled(hasSelection());
    menu.addAction(QStringLiteral("Select All"), this, &AnswerView::selectAll);
    menu.exec(event->globalPos());
}

void AnswerView::wheelEvent(QWheelEvent *event)
{
    const QPoint delta = event->angleDelta();
    const bool sideways = qAbs(delta.x()) > qAbs(delta.y());
    if (sideways || event->modifiers().testFlag(Qt::ShiftModifier)) {
        for (qsizetype i = 0; i < m_codePanels.size(); ++i) {
            const CodePanel &panel = m_codePanels[i];
            if (!panel.rect.contains(event->position().toPoint()))
                continue;
            const QPoint pixels = event->pixelDelta();
            const int step = !pixels.isNull() ? (sideways ? pixels.x() : pixels.y())
                                              : (sideways ? delta.x() : delta.y()) / 2;
            const int scroll = qBound(0, m_scrolls[i] - step, maxScroll(int(i)));
            if (scroll != m_scrolls[i]) {
                m_scrolls[i] = scroll;
                update(panel.rect);
            }
            event->accept();
            return;
        }
    }
    // An upright turn, or one over prose, scrolls the conversation.
    event->ignore();
}
