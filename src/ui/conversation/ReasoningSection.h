#pragma once

#include "ui/widgets/SelectableText.h"

#include <QAbstractButton>
#include <QWidget>
#include <optional>

class ReasoningText;
class ReasoningToggle;

// The model's reasoning above its answer: a line that opens and folds it,
// and the text, smaller than the answer and in the secondary colour, beside
// a thin bar. While the model still reasons the section is open under
// "Reasoning"; once the answer has begun it folds to "Reasoned for 12 s".
// A person's own open or fold choice wins over both, through every update.
// Screen readers find the line as an expandable button named "Reasoning",
// with what it shows as its description.
class ReasoningSection : public QWidget
{
    Q_OBJECT
public:
    explicit ReasoningSection(QWidget *parent = nullptr);

    // Shows the reasoning as it stands now; seconds is absent while the
    // model still reasons. A text that only grew costs only its new end.
    void setReasoning(const QString &text, std::optional<double> seconds);
    QString text() const { return m_shown; }

    bool isOpen() const;
    // What the person chose by clicking the line, if they did.
    std::optional<bool> choice() const { return m_choice; }
    void setChoice(std::optional<bool> open);

    // "Reasoning", or "Reasoned for N s" once the answer has begun.
    QString line() const;
    ReasoningToggle *toggle() const { return m_toggle; }
    SelectableText *body() const;
    // Test seam: every character ever put into the shown text.
    qsizetype insertedCharacters() const { return m_inserted; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void applyOpen();

    ReasoningToggle *m_toggle;
    ReasoningText *m_body;
    QString m_shown;
    std::optional<double> m_seconds;
    std::optional<bool> m_choice;
    qsizetype m_inserted = 0;
};

// The line that opens and folds the reasoning: a chevron and the line's
// text, in the secondary colour (the text colour under the pointer). Space
// and Return press it.
class ReasoningToggle : public QAbstractButton
{
    Q_OBJECT
public:
    explicit ReasoningToggle(QWidget *parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
};

// The reasoning's text. Its size hint is taken at the width it has, so
// that a layout asking after every streamed piece reads the document's own
// layout rather than laying a copy of the whole text out again.
class ReasoningText : public SelectableText
{
    Q_OBJECT
public:
    using SelectableText::SelectableText;

    QSize sizeHint() const override;
};
