#pragma once

#include "core/markdown/MDBlock.h"
#include "ui/markdown/RichTextLabel.h"

#include <QWidget>

class QLabel;

// The widgets that show one block each. MarkdownView keeps them across
// re-renders and hands a widget the new version of its block when only the
// content changed.

class HeadingBlock : public RichTextLabel
{
    Q_OBJECT
public:
    explicit HeadingBlock(QWidget *parent = nullptr);
    void showBlock(const MDBlock &block);
};

class ParagraphBlock : public RichTextLabel
{
    Q_OBJECT
public:
    explicit ParagraphBlock(QWidget *parent = nullptr);
    void showBlock(const MDBlock &block);
};

// The marker in the secondary colour, then the item text, indented by
// level up to a quarter of the block's width.
class BulletBlock : public QWidget
{
    Q_OBJECT
public:
    explicit BulletBlock(QWidget *parent = nullptr);
    void showBlock(const MDBlock &block);

    // The marker's distance from the left edge at this width.
    int indentAt(int width) const;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    int textLeft(int width) const;
    void place();

    int m_level = 0;
    QLabel *m_marker;
    RichTextLabel *m_label;
};

// A thin rounded bar, then the quoted text, both in the secondary colour.
class QuoteBlock : public QWidget
{
    Q_OBJECT
public:
    explicit QuoteBlock(QWidget *parent = nullptr);
    void showBlock(const MDBlock &block);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    RichTextLabel *m_label;
};

// The widget that shows block, new.
QWidget *createBlockWidget(const MDBlock &block, QWidget *parent);
// Shows block in widget when widget was made for a block of that kind;
// false when it was not, and the widget is left as it was.
bool updateBlockWidget(QWidget *widget, const MDBlock &block);
