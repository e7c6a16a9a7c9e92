#include "ui/input/AttachmentStrip.h"

#include "ui/input/DataURLImage.h"
#include "ui/input/InputStyle.h"
#include "ui/input/SymbolButton.h"

#include <QHBoxLayout>

namespace {

constexpr int removeButtonSide = 20;
constexpr int removeButtonPadding = 2;

DataURLImage *imageOf(QWidget *tile)
{
    return tile->findChild<DataURLImage *>(QString(), Qt::FindDirectChildrenOnly);
}

} // namespace

AttachmentStrip::AttachmentStrip(QWidget *parent)
    : QScrollArea(parent)
{
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setWidgetResizable(true);
    setFixedHeight(InputStyle::thumbnailSide);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleName(QStringLiteral("Attached images"));

    auto *content = new QWidget;
    m_row = new QHBoxLayout(content);
    m_row->setContentsMargins(0, 0, 0, 0);
    m_row->setSpacing(InputStyle::thumbnailSpacing);
    m_row->addStretch(1);
    setWidget(content);
    // The bar's own background shows through (setWidget() turned it off).
    content->setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
    hide();
}

void AttachmentStrip::setAttachments(const QStringList &urls)
{
    QList<QWidget *> unused = m_tiles;
    QList<QWidget *> tiles;
    for (const QString &url : urls) {
        const auto kept = std::find_if(
            unused.begin(), unused.end(), [&url](QWidget *tile) { return imageOf(tile)->dataURL() == url; });
        if (kept != unused.end()) {
            tiles.append(*kept);
            unused.erase(kept);
        } else {
            tiles.append(makeThumbnail(url));
        }
    }
    // Later: the click that removes a thumbnail comes from its own button.
    for (QWidget *tile : unused) {
        tile->hide();
        m_row->removeWidget(tile);
        tile->deleteLater();
    }
    // Taken out and put back in order; a widget inserted twice would stand
    // in the row twice.
    for (QWidget *tile : tiles)
        m_row->removeWidget(tile);
    for (int i = 0; i < tiles.size(); ++i) {
        m_row->insertWidget(i, tiles[i]);
        tiles[i]->setAccessibleName(QStringLiteral("Attached image %1").arg(i + 1));
        tiles[i]->show(); // at once, not on the layout's next turn
    }
    m_tiles = tiles;
    setVisible(!m_tiles.isEmpty());
}

QList<DataURLImage *> AttachmentStrip::thumbnails() const
{
    QList<DataURLImage *> images;
    for (QWidget *tile : m_tiles)
        images.append(imageOf(tile));
    return images;
}

QWidget *AttachmentStrip::makeThumbnail(const QString &url)
{
    auto *tile = new QWidget(widget());
    tile->setFixedSize(InputStyle::thumbnailSide, InputStyle::thumbnailSide);
    auto *image = new DataURLImage(url, tile);
    image->setImageSize({ InputStyle::thumbnailSide, InputStyle::thumbnailSide });
    image->setCornerRadius(InputStyle::thumbnailRadius);

    auto *remove = new SymbolButton("window-close", QStringLiteral("Remove image"), SymbolButton::overlayTone,
        removeButtonSide, removeButtonPadding, tile);
    remove->move(InputStyle::thumbnailSide - removeButtonSide, 0);
    remove->raise();
    // The position is looked up when clicked: earlier thumbnails may have
    // gone since this one was made.
    connect(remove, &SymbolButton::clicked, this, [this, tile] {
        const int index = int(m_tiles.indexOf(tile));
        if (index >= 0)
            Q_EMIT removeRequested(index);
    });
    return tile;
}
