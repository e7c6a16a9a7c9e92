#include "ui/input/NoticeRow.h"

#include "ui/icons/Icons.h"
#include "ui/input/InputStyle.h"
#include "ui/style/Palette.h"
#include "ui/widgets/FlowRowLayout.h"
#include "ui/widgets/WrappingButton.h"
#include "ui/widgets/WrappingLabel.h"

#include <QEvent>
#include <QPainter>

namespace {

constexpr int iconSide = 16;

QFont calloutFont(QFont font)
{
    font.setPixelSize(InputStyle::calloutPixelSize);
    return font;
}

// The crossed-out eye, painted at the screen's pixel ratio.
class NoticeIcon : public QWidget
{
public:
    explicit NoticeIcon(QWidget *parent)
        : QWidget(parent)
    {
        setFixedSize(iconSide, iconSide);
        setAccessibleName(QStringLiteral("Cannot see images"));
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.drawPixmap(0, 0,
            InputStyle::tinted(
                Icons::symbol("view-hidden"), iconSide, InputStyle::orange(), devicePixelRatioF()));
    }
};

} // namespace

NoticeRow::NoticeRow(QWidget *parent)
    : QWidget(parent)
    , m_icon(new NoticeIcon(this))
    , m_message(new WrappingLabel(this))
    , m_switch(new WrappingButton(this))
{
    m_message->setFont(calloutFont(m_message->font()));
    m_switch->setFont(calloutFont(m_switch->font()));
    styleSwitchButton();
    m_switch->setCursor(Qt::PointingHandCursor);
    m_switch->setFocusPolicy(Qt::TabFocus);
    connect(m_switch, &QPushButton::clicked, this, &NoticeRow::switchRequested);

    // A long model name moves the button to a line of its own, and wraps
    // there, rather than widen the bar (and with it the window).
    auto *row = new FlowRowLayout(8, 6, this);
    row->addWidget(m_icon);
    row->addWidget(m_message);
    row->addWidget(m_switch);
    hide();
}

void NoticeRow::showNotice(const std::optional<ImageNotice> &notice)
{
    setVisible(notice.has_value());
    if (!notice)
        return;
    m_message->setText(notice->message);
    m_message->setAccessibleName(notice->message);
    if (notice->switchTo)
        m_switch->setTitle(QStringLiteral("Switch to ") + notice->switchTo->name);
    m_switch->setVisible(notice->switchTo.has_value());
}

void NoticeRow::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    // The style sheet took the palette's colours when it was applied.
    if (event->type() == QEvent::PaletteChange)
        styleSwitchButton();
}

// A quiet rounded button tinted with the text colour, so that it suits a
// light and a dark palette alike.
void NoticeRow::styleSwitchButton()
{
    const QPalette &colours = palette();
    const auto rgba
        = [&colours](qreal opacity) { return Palette::primary(colours, opacity).name(QColor::HexArgb); };
    m_switch->setStyleSheet(
        QStringLiteral("QPushButton { color: %1; background: %2; border: 1px solid %3; border-radius: 6px;"
                       " padding: 2px 8px; }"
                       "QPushButton:hover { background: %4; }"
                       "QPushButton:pressed { background: %5; }")
            .arg(rgba(1.0), rgba(0.06), rgba(0.18), rgba(0.11), rgba(0.16)));
}
