#pragma once

#include <QIconEngine>
#include <QList>
#include <QString>

// An icon drawn from black-on-transparent masks (one PNG per size in a
// folder), filled with the application palette's text colour for the mode
// asked for, at the time it is asked for.
class TintedIconEngine : public QIconEngine
{
public:
    // folder holds "<size>.png" for each of sizes.
    TintedIconEngine(const QString &folder, const QList<int> &sizes);

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override;
    QSize actualSize(const QSize &size, QIcon::Mode mode, QIcon::State state) override;
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override;
    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State state, qreal scale) override;
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override;
    QString key() const override;
    QIconEngine *clone() const override;
    bool isNull() override;

private:
    int maskSizeFor(int extent) const;

    QString m_folder;
    QList<int> m_sizes;
};
