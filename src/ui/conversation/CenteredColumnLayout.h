#pragma once

#include <QLayout>

// Holds one item, at most maxWidth wide and centred in the space it is
// given, however narrow that is; heights are asked of the item at the width
// it really gets, which a box layout with an alignment does not do.
class CenteredColumnLayout : public QLayout
{
public:
    CenteredColumnLayout(int maxWidth, QWidget *parent = nullptr);
    ~CenteredColumnLayout() override;

    void addItem(QLayoutItem *item) override;
    QLayoutItem *itemAt(int index) const override;
    QLayoutItem *takeAt(int index) override;
    int count() const override;

    QSize sizeHint() const override;
    QSize minimumSize() const override;
    Qt::Orientations expandingDirections() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;
    void setGeometry(const QRect &rect) override;

private:
    int columnWidth(int width) const;
    QSize withMargins(QSize size) const;

    int m_maxWidth;
    QLayoutItem *m_item = nullptr;
};
