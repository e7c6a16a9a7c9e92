#pragma once

#include <QLabel>

// A label of plain text (never read as markup) that wraps the way TextWrap
// does, so a long word, name or URL never asks for more width than the
// label is given. It prefers the width of its text on one line.
class WrappingLabel : public QLabel
{
    Q_OBJECT
public:
    explicit WrappingLabel(QWidget *parent = nullptr);
    explicit WrappingLabel(const QString &text, QWidget *parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void forgetStaleMeasures() const;
    int textHeight(int textWidth) const;
    int naturalWidth() const;
    int extraWidth() const;
    int extraHeight() const;

    // Layouts ask often, with the same text and width; measuring again
    // each time would be wasted work.
    mutable QString m_measuredText;
    mutable QFont m_measuredFont;
    mutable int m_naturalWidth = -1;
    mutable int m_heightWidth = -1;
    mutable int m_height = 0;
};
