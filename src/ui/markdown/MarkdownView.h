#pragma once

#include "core/markdown/MDBlock.h"

#include <QList>
#include <QWidget>

class QVBoxLayout;

// Shows a reply's Markdown as a column of blocks that fills the width. The
// text is re-parsed at every change, but only the widgets of blocks that
// changed are touched: while a reply streams in, usually just the last one.
class MarkdownView : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QString text READ text WRITE setText NOTIFY textChanged)
public:
    explicit MarkdownView(QWidget *parent = nullptr);
    explicit MarkdownView(const QString &text, QWidget *parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString &text);

    // The blocks shown, and the widget of each, top to bottom.
    const QList<MDBlock> &blocks() const { return m_blocks; }
    QWidget *blockWidget(qsizetype index) const { return m_widgets.value(index); }

Q_SIGNALS:
    void textChanged();

private:
    void showBlock(qsizetype index, const MDBlock &block);
    void removeBlocksFrom(qsizetype index);

    QString m_text;
    QList<MDBlock> m_blocks;
    QList<QWidget *> m_widgets;
    QVBoxLayout *m_column;
};
