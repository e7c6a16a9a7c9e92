#pragma once

#include <QTextBrowser>
#include <array>

// Read-only text a person can select and copy, as plain text or as rich
// text that the caller has made safe: a message, a model's reasoning, the
// technical details of an issue. It wraps at word boundaries and
// inside a word only where the word alone is wider than the line, so no
// text ever asks for more width than it is given, and its height follows
// its width. It loads nothing its text names, never scrolls (an upright
// wheel turn goes on to the conversation around it), and draws its text in
// one colour role of its palette, so it follows a light or dark appearance.
class SelectableText : public QTextBrowser
{
    Q_OBJECT
public:
    explicit SelectableText(QWidget *parent = nullptr);

    // Plain text, shown as it is and never read as markup.
    void setText(const QString &text);
    QString text() const { return toPlainText(); }
    // Space between the edges and the text; a negative side lets the last
    // line's spacing reach past the edge.
    void setPadding(const QMargins &padding);
    // The palette role of the text: WindowText, as for a label, unless set.
    void setTextRole(QPalette::ColorRole role);
    // The width it asks for before a layout gives it one, and the narrowest
    // it can be given, padding included: 80 and 4 average characters (and
    // the padding) unless set.
    void setWidthHints(int preferred, int narrowest);

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    // Cheap hints: the width a wrapped block gets comes from its column.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    QVariant loadResource(int type, const QUrl &name) override;

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void forgetHeights();

private:
    int documentHeight(int textWidth) const;
    void applyTextRole();
    void keepShapedText();

    QMargins m_padding;
    int m_preferredWidth = -1;
    int m_narrowestWidth = -1;
    QPalette::ColorRole m_textRole = QPalette::WindowText;
    bool m_applyingRole = false;

    // The layout asks every block each time any one of them changes, at a
    // few widths (a scroll area tries with and without its scroll bar).
    // Remembering the answers keeps a streamed flush from laying out the
    // whole reply again.
    struct HeightForWidth {
        int width = -1;
        int height = 0;
    };
    mutable std::array<HeightForWidth, 4> m_hfwCache;
    mutable size_t m_hfwNext = 0;
};
