#pragma once

#include <QAccessibleWidget>

class AnswerView;

// What a screen reader sees of an answer: its text without markup as name,
// and the text itself to read, select and point at, in the same positions
// as the view's document.
class AnswerAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit AnswerAccessible(AnswerView *view);

    // Makes Qt use this for every AnswerView; once is enough.
    static void install();

    void *interface_cast(QAccessible::InterfaceType type) override;
    QString text(QAccessible::Text type) const override;

    void selection(int selectionIndex, int *startOffset, int *endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint &point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int *startOffset, int *endOffset) const override;

private:
    AnswerView *view() const;
};
