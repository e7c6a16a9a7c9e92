#pragma once

#include <QLayout>
#include <QList>

// Items left to right, spaced apart and centred on their line. An item that
// does not fit after the others starts the next line, and one wider than a
// whole line gets the line's width (and, when its height follows its width,
// the height it asks for there). So a row of a long text and a few buttons
// never asks for more width than it is given, and every button stays whole.
class FlowRowLayout : public QLayout
{
public:
    FlowRowLayout(int spacing, int lineSpacing, QWidget *parent = nullptr);
    ~FlowRowLayout() override;

    void addItem(QLayoutItem *item) override;
    QLayoutItem *itemAt(int index) const override;
    QLayoutItem *takeAt(int index) override;
    int count() const override;

    Qt::Orientations expandingDirections() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    void setGeometry(const QRect &rect) override;

private:
    // Places the items in rect (or only measures, when apply is false);
    // returns the height they take, margins included.
    int arrange(const QRect &rect, bool apply) const;

    QList<QLayoutItem *> m_items;
    int m_spacing;
    int m_lineSpacing;
};
