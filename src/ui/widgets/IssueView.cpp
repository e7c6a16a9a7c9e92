#include "ui/widgets/IssueView.h"

#include "ui/style/Palette.h"
#include "ui/style/ViewStyle.h"
#include "ui/widgets/SelectableText.h"
#include "ui/widgets/WarningSign.h"

#include <QDesktopServices>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int iconSize = 16;

// The details' backdrop: the primary colour at 5 %, rounded.
class DetailsPanel : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), 6, 6);
        painter.fillPath(shape, Palette::primary(this, 0.05));
    }
};

} // namespace

IssueView::IssueView(
    const AppIssue &issue, const QString &retryTitle, std::function<void()> onRetry, QWidget *parent)
    : QWidget(parent)
    , m_onRetry(std::move(onRetry))
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(12, 12, 12, 12);
    column->setSpacing(8);
    column->addWidget(makeMessageRow());

    m_toggle = new QToolButton(this);
    m_toggle->setText(QStringLiteral("Show Details"));
    m_toggle->setAccessibleName(m_toggle->text());
    m_toggle->setCheckable(true);
    m_toggle->setAutoRaise(true);
    m_toggle->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_toggle->setArrowType(Qt::RightArrow);
    m_toggle->setFont(ViewStyle::caption(font()));
    m_toggle->setCursor(Qt::PointingHandCursor);
    connect(m_toggle, &QToolButton::toggled, this, &IssueView::setDetailsShown);
    column->addWidget(m_toggle, 0, Qt::AlignLeft);
    column->addWidget(makeDetails());
    column->addWidget(makeButtons(retryTitle));

    applyColors();
    setIssue(issue);
    setDetailsShown(false);
}

QWidget *IssueView::makeMessageRow()
{
    auto *row = new QWidget(this);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);

    m_icon = new QLabel(row);
    m_icon->setFixedSize(iconSize, iconSize);
    layout->addWidget(m_icon, 0, Qt::AlignTop);

    m_message = new QLabel(row);
    m_message->setTextFormat(Qt::PlainText);
    m_message->setWordWrap(true);
    m_message->setFont(ViewStyle::body(font()));
    m_message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_message, 1, Qt::AlignTop);
    return row;
}

QWidget *IssueView::makeDetails()
{
    m_detailsPanel = new DetailsPanel(this);
    auto *layout = new QVBoxLayout(m_detailsPanel);
    layout->setContentsMargins(8, 8, 8, 8);
    m_details = new SelectableText(m_detailsPanel);
    m_details->setFont(ViewStyle::monospace(11));
    // Details hold no sentence to size them by: a URL or a JSON body asks
    // for a modest width and gives way to almost any. Tab reaches them, and
    // the pointer shows they can be selected, for copying into a report.
    m_details->setWidthHints(320, 60);
    m_details->setFocusPolicy(Qt::StrongFocus);
    m_details->viewport()->setCursor(Qt::IBeamCursor);
    m_details->setAccessibleName(QStringLiteral("Details"));
    layout->addWidget(m_details);
    return m_detailsPanel;
}

// The page to open first, then the retry that may work once it is seen to.
QWidget *IssueView::makeButtons(const QString &retryTitle)
{
    auto *row = new QWidget(this);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    m_action = new QPushButton(row);
    m_action->hide();
    connect(m_action, &QPushButton::clicked, this, [this] {
        if (m_issue.action)
            QDesktopServices::openUrl(m_issue.action->url);
    });
    layout->addWidget(m_action);
    if (m_onRetry) {
        m_retry = new QPushButton(retryTitle, row);
        m_retry->setAccessibleName(retryTitle);
        connect(m_retry, &QPushButton::clicked, this, [this] { m_onRetry(); });
        layout->addWidget(m_retry);
    }
    layout->addStretch(1);
    return row;
}

void IssueView::setIssue(const AppIssue &issue)
{
    m_issue = issue;
    m_message->setText(issue.message);
    m_details->setText(issue.details);
    setAccessibleName(issue.message);
    if (issue.action) {
        // A label from the service reads as written: no mnemonic.
        QString label = issue.action->label;
        m_action->setText(label.replace(QLatin1Char('&'), QLatin1String("&&")));
        m_action->setAccessibleName(issue.action->label);
    }
    m_action->setVisible(issue.action.has_value());
    // Without a button the row takes no room.
    m_action->parentWidget()->setVisible(m_retry || issue.action);
}

bool IssueView::detailsShown() const
{
    return m_toggle->isChecked();
}

void IssueView::setDetailsShown(bool shown)
{
    m_toggle->setChecked(shown);
    m_toggle->setArrowType(shown ? Qt::DownArrow : Qt::RightArrow);
    m_detailsPanel->setVisible(shown);
}

void IssueView::applyColors()
{
    m_icon->setPixmap(warningSign(iconSize, Palette::warning(this), devicePixelRatioF()));
    Palette::setTextColor(m_details, Palette::secondary(this));
    // Flat in both states: a disclosure, not a push button. A style sheet
    // takes its colours when it is set, so it is set again with each
    // palette, in that palette's colours.
    m_toggle->setStyleSheet(QStringLiteral("QToolButton { border: none; border-bottom: 1px solid transparent;"
                                           " background: transparent; padding: 2px 0px; color: %1; }"
                                           "QToolButton:focus { border-bottom-color: %2; }")
                                .arg(Palette::primary(this).name(), Palette::accent(this).name()));
}

void IssueView::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) {
        applyColors();
        update();
    }
}

void IssueView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 12, 12);
    painter.fillPath(shape, Palette::warning(this, 0.1));
}
