#include "ui/modelmenu/ModelMenu.h"

#include "core/conversation/ChatViewModel.h"
#include "core/conversation/ReplyWithFallback.h"
#include "core/quota/FreeQuota.h"
#include "core/ranker/ModelRanker.h"
#include "ui/icons/Icons.h"

#include <QActionGroup>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QStyleOptionToolButton>
#include <QStylePainter>

namespace {

const QString autoTitle = QStringLiteral("Auto (fastest free)");

QColor dotColor(ChatViewModel::Status status)
{
    switch (status) {
    case ChatViewModel::switching:
        return QColor(0xF5, 0xC2, 0x11); // yellow
    case ChatViewModel::failing:
        return QColor(0xE5, 0x3E, 0x3E); // red
    case ChatViewModel::ready:
        break;
    }
    return QColor(0x34, 0xC7, 0x59); // green
}

QIcon statusDot(ChatViewModel::Status status)
{
    QIcon icon;
    for (qreal scale : { 1.0, 2.0 }) {
        QPixmap pixmap(QSize(8, 8) * scale);
        pixmap.setDevicePixelRatio(scale);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(dotColor(status));
        painter.drawEllipse(QRectF(0, 0, 8, 8));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QAction *addDisabledLine(QMenu *menu, const QString &text)
{
    QAction *action = menu->addAction(ModelMenu::escapeMnemonics(text));
    action->setEnabled(false);
    return action;
}

} // namespace

ModelMenu::ModelMenu(ChatViewModel &vm, ModelRanker &ranker, RefreshAction onRefresh, QWidget *parent)
    : QToolButton(parent)
    , m_vm(vm)
    , m_ranker(ranker)
    , m_onRefresh(std::move(onRefresh))
    , m_menu(new QMenu(this))
{
    setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    setAutoRaise(true);
    setIconSize(QSize(8, 8));
    setToolTip(QStringLiteral("Model"));
    // The menu pops up and the call returns: QToolButton's own pull-down
    // would run the menu in a nested event loop.
    connect(this, &QToolButton::clicked, this, &ModelMenu::openMenu);
    connect(m_menu, &QMenu::aboutToShow, this, &ModelMenu::rebuildMenu);
    connect(m_menu, &QMenu::aboutToHide, this, [this] { setDown(false); });

    // The label shows the open chat's pin (another chat has its own).
    connect(&vm, &ChatViewModel::pinnedModelChanged, this, &ModelMenu::updateLabel);
    connect(&vm, &ChatViewModel::statusChanged, this, &ModelMenu::updateLabel);
    connect(&ranker, &ModelRanker::freeModelsChanged, this, &ModelMenu::updateLabel);
    updateLabel();
}

QString ModelMenu::displayName(const QString &modelId, const ModelRanker &ranker)
{
    // Named as an answer is signed.
    return ReplyWithFallback::displayName(ranker.model(modelId), modelId);
}

QString ModelMenu::escapeMnemonics(QString text)
{
    // A tab would start the column of the item's shortcut, a line break a
    // second line in a one-line item.
    for (QChar &c : text) {
        if (c == u'\t' || c == u'\n' || c == u'\r')
            c = u' ';
    }
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

void ModelMenu::openMenu()
{
    if (m_menu->isVisible())
        return;
    setDown(true);
    m_menu->popup(mapToGlobal(rect().bottomLeft()));
}

QSize ModelMenu::sizeHint() const
{
    return QToolButton::sizeHint()
        + QSize(style()->pixelMetric(QStyle::PM_MenuButtonIndicator, nullptr, this), 0);
}

// Drawn as a pull-down button: the label, then a down arrow centred beside
// it (the style's own menu mark sits in the bottom corner, under the text).
void ModelMenu::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    QStyleOptionToolButton option;
    initStyleOption(&option);
    const int arrow = style()->pixelMetric(QStyle::PM_MenuButtonIndicator, nullptr, this);
    const int frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);

    QStyleOptionToolButton panel = option;
    panel.text.clear();
    panel.icon = QIcon();
    painter.drawComplexControl(QStyle::CC_ToolButton, panel);

    QStyleOptionToolButton label = option;
    label.rect = option.rect.adjusted(frame, frame, -frame - arrow, -frame);
    painter.drawControl(QStyle::CE_ToolButtonLabel, label);

    QStyleOption mark = option;
    const int side = qMin(arrow, option.rect.height()) * 2 / 3;
    mark.rect = QRect(option.rect.right() - frame - arrow + (arrow - side) / 2,
        option.rect.center().y() - side / 2, side, side);
    painter.drawPrimitive(QStyle::PE_IndicatorArrowDown, mark);
}

void ModelMenu::updateLabel()
{
    const std::optional<QString> &pinned = m_vm.chat().pinnedModel;
    const QString label = pinned ? displayName(*pinned, m_ranker) : autoTitle;
    if (label != m_label) {
        m_label = label;
        setText(escapeMnemonics(label));
        setAccessibleName(QStringLiteral("Model: ") + label);
    }
    const int status = m_vm.status();
    if (status != m_dotStatus) {
        m_dotStatus = status;
        setIcon(statusDot(m_vm.status()));
    }
}

void ModelMenu::setQuota(FreeQuota *quota)
{
    if (m_quota)
        disconnect(m_quota, nullptr, this, nullptr);
    m_quota = quota;
    if (quota)
        connect(quota, &FreeQuota::changed, this, &ModelMenu::updateQuota);
    updateQuota();
}

void ModelMenu::updateQuota()
{
    const std::optional<QString> summary = m_quota ? m_quota->summary() : std::nullopt;
    setToolTip(summary.value_or(QStringLiteral("Model")));
    setAccessibleDescription(summary.value_or(QString()));
}

void ModelMenu::rebuildMenu()
{
    m_menu->clear();
    delete m_choices;
    // One choice at most is marked, and none when the chat is pinned to a
    // model that is no longer listed. In an exclusive group only the chosen
    // item carries a mark; the others stay clean.
    m_choices = new QActionGroup(m_menu);
    m_choices->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    const bool pinned = m_vm.chat().pinnedModel.has_value();
    QAction *automatic = m_menu->addAction(autoTitle);
    automatic->setCheckable(true);
    automatic->setChecked(!pinned);
    m_choices->addAction(automatic);
    connect(automatic, &QAction::triggered, this, [this] { m_vm.pin(std::nullopt); });
    if (const std::optional<QString> &current = m_vm.currentModelName())
        addDisabledLine(m_menu, QStringLiteral("Current: ") + *current);
    m_menu->addSeparator();
    addModelItems();
    const std::optional<QString> &note = m_ranker.note();
    const std::optional<QString> quota = m_quota ? m_quota->summary() : std::nullopt;
    if (note || quota)
        m_menu->addSeparator();
    if (note)
        addDisabledLine(m_menu, *note);
    if (quota)
        addDisabledLine(m_menu, *quota);
    m_menu->addSeparator();
    addRefreshItem();
    m_menu->addAction(QStringLiteral("Show Model Ladder…"), this, &ModelMenu::ladderRequested);
}

void ModelMenu::addModelItems()
{
    QAction *heading = addDisabledLine(m_menu, QStringLiteral("Free models"));
    QFont font = heading->font();
    font.setWeight(QFont::DemiBold);
    heading->setFont(font);
    const std::optional<QString> &pinned = m_vm.chat().pinnedModel;
    for (const ORModel &model : m_ranker.freeModels()) {
        const bool isPinned = pinned && *pinned == model.id;
        QString text = model.name;
        if (!isPinned && m_ranker.isCooling(model.id))
            text += QStringLiteral(" (cooling down)");
        QAction *item = m_menu->addAction(escapeMnemonics(text));
        item->setCheckable(true);
        item->setChecked(isPinned);
        m_choices->addAction(item);
        const QString id = model.id;
        connect(item, &QAction::triggered, this, [this, id] { m_vm.pin(id); });
    }
}

void ModelMenu::addRefreshItem()
{
    if (m_ranker.isRefreshing()) {
        addDisabledLine(m_menu, QStringLiteral("Refreshing…"));
        return;
    }
    QAction *refresh = m_menu->addAction(Icons::symbol("view-refresh"), QStringLiteral("Refresh list"));
    connect(refresh, &QAction::triggered, this, [this] {
        if (m_onRefresh)
            m_onRefresh();
    });
}
