#include "ui/markdown/MarkdownView.h"

#include "core/markdown/MarkdownParser.h"
#include "ui/markdown/BlockWidgets.h"

#include <QVBoxLayout>

MarkdownView::MarkdownView(QWidget *parent)
    : QWidget(parent)
    , m_column(new QVBoxLayout(this))
{
    m_column->setContentsMargins(0, 0, 0, 0);
    m_column->setSpacing(10);
    // Keeps the blocks together at the top when the view is given more
    // height than they need; as an empty item it adds no spacing.
    m_column->addStretch(1);
}

MarkdownView::MarkdownView(const QString &text, QWidget *parent)
    : MarkdownView(parent)
{
    setText(text);
}

void MarkdownView::setText(const QString &text)
{
    if (text == m_text)
        return;
    m_text = text;
    const QList<MDBlock> blocks = MarkdownParser::blocks(text);
    for (qsizetype i = 0; i < blocks.size(); ++i) {
        if (i < m_blocks.size() && blocks[i] == m_blocks[i])
            continue;
        showBlock(i, blocks[i]);
    }
    removeBlocksFrom(blocks.size());
    m_blocks = blocks;
    Q_EMIT textChanged();
}

void MarkdownView::showBlock(qsizetype index, const MDBlock &block)
{
    if (index < m_widgets.size()) {
        if (updateBlockWidget(m_widgets[index], block))
            return;
        QWidget *replaced = m_widgets[index];
        m_widgets[index] = createBlockWidget(block, this);
        delete m_column->replaceWidget(replaced, m_widgets[index]); // the old item is ours to free
        m_widgets[index]->setVisible(true);
        replaced->hide();
        replaced->deleteLater();
        return;
    }
    QWidget *widget = createBlockWidget(block, this);
    m_column->insertWidget(int(index), widget);
    // Shown with the text that brought it, not a turn of the event loop later.
    widget->setVisible(true);
    m_widgets.append(widget);
}

void MarkdownView::removeBlocksFrom(qsizetype index)
{
    while (m_widgets.size() > index) {
        QWidget *widget = m_widgets.takeLast();
        m_column->removeWidget(widget);
        widget->hide();
        // Later, in case the change came from one of this widget's signals.
        widget->deleteLater();
    }
}
