#pragma once

#include <QLabel>
#include <array>

// A selectable, word-wrapping label that shows one block's inline Markdown.
// Links open in the browser, and only for http, https and mailto. Its
// accessible name is the text without markup.
class RichTextLabel : public QLabel
{
    Q_OBJECT
public:
    explicit RichTextLabel(QWidget *parent = nullptr);

    // Wraps the rendered text in a <div> with this style (e.g. line spacing).
    void setBlockStyle(const QString &css);
    void setMarkdown(const QString &inlineMarkdown);
    QString markdown() const { return m_markdown; }

    int heightForWidth(int width) const override;
    // Cheap hints: QLabel lays the text out again for each of them. The
    // width a wrapped block gets comes from its column anyway, and a long
    // word or URL must not hold the whole conversation wide.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    static void openLink(const QString &link);
    void forgetHeights();
    void keepShapedText();

    // QLabel lays its text out again at every call, and the enclosing box
    // layout asks every block each time any one of them changes, at a few
    // widths (a scroll area tries with and without its scroll bar).
    // Remembering the answers keeps a streamed flush from laying out the
    // whole reply again.
    struct HeightForWidth {
        int width = -1;
        int height = 0;
    };
    mutable std::array<HeightForWidth, 4> m_hfwCache;
    mutable size_t m_hfwNext = 0;

    QString m_markdown;
    QString m_blockStyle;
};
