#pragma once

#include "core/markdown/MarkdownDocument.h"
#include "ui/markdown/SearchMarks.h"

#include <QList>
#include <QTextBlock>
#include <QWidget>
#include <limits>

class CodeCopyButton;
class QTextDocument;

// Shows one answer's Markdown from a single QTextDocument, so a person can
// drag-select across all of it and copy it as plain text. While a reply
// streams, MarkdownDocument edits the document only from the first changed
// character, and the document lays out only what changed.
//
// The view paints the document itself, block by block: prose wraps at the
// view's width, while each code block keeps its lines whole on a panel of
// its own that scrolls sideways. The only child widgets are the code
// blocks' Copy buttons.
class AnswerView : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QString text READ text WRITE setText NOTIFY textChanged)
public:
    // A code block as shown: its caption, code and panel (view coordinates).
    struct CodeBlock {
        QString language;
        QString caption; // the language, or "code" without one
        QString code;
        QRect panel;
    };

    explicit AnswerView(QWidget *parent = nullptr);
    explicit AnswerView(const QString &text, QWidget *parent = nullptr);
    ~AnswerView() override;

    const QString &text() const { return m_markdown.text(); }
    void setText(const QString &text);
    const QTextDocument *document() const { return m_document; }
    QString toPlainText() const;

    // Selection, in document positions.
    bool hasSelection() const { return m_anchor != m_position; }
    int selectionAnchor() const { return m_anchor; }
    int selectionPosition() const { return m_position; }
    QString selectedText() const; // plain text, one line per block
    void select(int anchor, int position);
    void selectAll();
    void clearSelection() { select(0, 0); }
    void copy() const;

    // Marks the words a search found (folded, as SearchText gives them);
    // none when empty. The marks follow the text as it changes.
    void setMarkedWords(const QStringList &foldedWords);
    const QList<SearchMarks::Span> &marks() const { return m_marks; }

    QList<CodeBlock> codeBlocks() const;
    CodeCopyButton *codeCopyButton(int index) const { return m_copyButtons.value(index); }
    int codeScroll(int index) const { return m_scrolls.value(index); }
    void setCopiedInterval(int milliseconds);

    // Where a character is shown, and which position is at a point, in view
    // coordinates; -1 when the point is over no text.
    QRect characterRect(int position) const;
    int positionAt(const QPointF &point) const;
    // The link under a point, or nothing.
    QString linkAt(const QPointF &point) const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    void textChanged();
    void selectionChanged();

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    // Where a code block is: document positions of its first character
    // and of the end of its last line, and its panel.
    struct CodePanel {
        int start = 0;
        int end = 0;
        QRect rect;
        int contentWidth = 0; // of the widest line, padding included
    };

    void documentChanged(int from, int removed, int added);
    void announceChange(int from, int removed, int added);
    void followWidth(int width) const;
    // Links and list markers in the palette's colours.
    void takeColours();
    void layoutCaughtUp();
    int exactHeight() const;
    // Finds and places the code panels from document position from on.
    void placeCodePanels(int from);
    int codeIndexOf(const QTextBlock &block) const;
    int scrollOf(const QTextBlock &block) const;
    int maxScroll(int index) const;
    QString codeOf(int index) const;
    QTextBlock blockAt(qreal y) const;
    int positionIn(const QTextBlock &block, const QPointF &point, bool onCharacter) const;
    void paintPanel(QPainter &painter, int index, const CodePanel &panel) const;
    void paintBlock(QPainter &painter, const QTextBlock &block, const QRect &clip) const;
    void updateSelection(int anchor, int position);
    void updateMarks();
    void addMarks(QList<QTextLayout::FormatRange> &looks, const QTextBlock &block) const;
    static void openLink(const QString &link);

    QTextDocument *m_document;
    MarkdownDocument m_markdown;
    static constexpr int noChange = std::numeric_limits<int>::max();
    int m_changedFrom = noChange; // the earliest change the layout has yet to take in
    QList<CodePanel> m_codePanels;
    QList<CodeCopyButton *> m_copyButtons;
    QList<int> m_scrolls; // each code block's sideways scroll
    int m_copiedInterval = 1500;
    QStringList m_markedWords;
    QList<SearchMarks::Span> m_marks;
    int m_anchor = 0;
    int m_position = 0;
    bool m_selecting = false;
    QString m_pressedLink;
    // Heights at widths other than the one shown, each with the height at
    // the width shown when it was measured.
    struct Measured {
        int width = 0;
        int height = 0;
        int shownHeight = 0;
    };
    int m_shownWidth = -1; // until a layout gives the view its width
    mutable QList<Measured> m_measured;
};
