#pragma once

#include "ui/widgets/SelectableText.h"

// The user's text: plain, selectable, on a rounded tint of the accent
// colour, as wide as the text needs up to the width it is given, where it
// wraps (inside a word, too, when the word alone is wider).
class MessageBubble : public SelectableText
{
    Q_OBJECT
public:
    explicit MessageBubble(QWidget *parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString &text);
    // Marks the words a search found (folded); none when empty.
    void setMarkedWords(const QStringList &foldedWords);
    int markCount() const { return int(extraSelections().size()); }

    // The width of the text unwrapped: a short message gets a snug bubble,
    // a long one the whole width it is given.
    QSize sizeHint() const override;

protected:
    bool event(QEvent *event) override;

private:
    int naturalWidth() const;
    void updateMarks();

    QString m_text;
    QStringList m_markedWords;
    // The layout asks for hints often; measuring a long text each time
    // would be wasted work.
    mutable int m_measuredWidth = -1;
};
