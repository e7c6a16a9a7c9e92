#include "ui/widgets/SelectableText.h"

#include <QAbstractTextDocumentLayout>
#include <QEvent>
#include <QTextBlock>
#include <QTextLayout>
#include <QWheelEvent>
#include <cmath>
#include <memory>

SelectableText::SelectableText(QWidget *parent)
    : QTextBrowser(parent)
{
    setOpenLinks(false);
    setOpenExternalLinks(false);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setUndoRedoEnabled(false);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    // Focus comes with a click, as on a selectable label; Tab passes by
    // unless the text holds links.
    setFocusPolicy(Qt::ClickFocus);
    document()->setDocumentMargin(0);
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    connect(document(), &QTextDocument::contentsChanged, this, [this] {
        forgetHeights();
        updateGeometry();
    });
    applyTextRole();
}

void SelectableText::setText(const QString &text)
{
    setPlainText(text);
}

void SelectableText::setPadding(const QMargins &padding)
{
    m_padding = padding;
    setViewportMargins(padding);
    forgetHeights();
    updateGeometry();
}

void SelectableText::setTextRole(QPalette::ColorRole role)
{
    m_textRole = role;
    applyTextRole();
}

void SelectableText::setWidthHints(int preferred, int narrowest)
{
    m_preferredWidth = preferred;
    m_narrowestWidth = narrowest;
    updateGeometry();
}

// The document is drawn in the palette's Text colour; a label's text is
// WindowText. The role is copied in again whenever the palette around
// changes.
void SelectableText::applyTextRole()
{
    QPalette colours = palette();
    for (QPalette::ColorGroup group : { QPalette::Active, QPalette::Inactive, QPalette::Disabled })
        colours.setColor(group, QPalette::Text, colours.color(group, m_textRole));
    m_applyingRole = true;
    setPalette(colours);
    m_applyingRole = false;
}

int SelectableText::documentHeight(int textWidth) const
{
    if (document()->textWidth() == textWidth)
        return int(std::ceil(document()->size().height()));
    // A copy laid out at that width, so that asking never disturbs the
    // layout on screen.
    const std::unique_ptr<QTextDocument> probe(document()->clone());
    probe->setTextWidth(textWidth);
    return int(std::ceil(probe->size().height()));
}

int SelectableText::heightForWidth(int width) const
{
    for (const HeightForWidth &entry : m_hfwCache) {
        if (entry.width == width)
            return entry.height;
    }
    const int frame = 2 * frameWidth();
    const int textWidth = qMax(1, width - frame - m_padding.left() - m_padding.right());
    HeightForWidth &entry = m_hfwCache[m_hfwNext];
    m_hfwNext = (m_hfwNext + 1) % m_hfwCache.size();
    entry = { width, documentHeight(textWidth) + frame + m_padding.top() + m_padding.bottom() };
    return entry.height;
}

QSize SelectableText::sizeHint() const
{
    const int width = m_preferredWidth >= 0 ? m_preferredWidth : fontMetrics().averageCharWidth() * 80;
    return { width, heightForWidth(width) };
}

QSize SelectableText::minimumSizeHint() const
{
    const int width = m_narrowestWidth >= 0
        ? m_narrowestWidth
        : fontMetrics().averageCharWidth() * 4 + m_padding.left() + m_padding.right();
    return { width, fontMetrics().height() + m_padding.top() + m_padding.bottom() };
}

void SelectableText::forgetHeights()
{
    m_hfwCache.fill({});
}

QVariant SelectableText::loadResource(int, const QUrl &)
{
    return {};
}

bool SelectableText::event(QEvent *event)
{
    switch (event->type()) {
    case QEvent::FontChange:
    case QEvent::StyleChange:
        forgetHeights();
        break;
    case QEvent::PaletteChange:
        if (!m_applyingRole)
            applyTextRole();
        break;
    default:
        break;
    }
    return QTextBrowser::event(event);
}

void SelectableText::paintEvent(QPaintEvent *event)
{
    keepShapedText();
    QTextBrowser::paintEvent(event);
}

// The document lays its text out and then drops the shaped glyphs, so every
// repaint (a streaming reply scrolls, and so repaints, at every flush) would
// shape the text again.
void SelectableText::keepShapedText()
{
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        if (QTextLayout *layout = block.layout())
            layout->setCacheEnabled(true);
    }
}

void SelectableText::wheelEvent(QWheelEvent *event)
{
    event->ignore();
}
