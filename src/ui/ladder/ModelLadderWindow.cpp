#include "ui/ladder/ModelLadderWindow.h"

#include "core/ladder/LadderModel.h"
#include "ui/style/Palette.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

constexpr QSize defaultSize(800, 330);

constexpr QSize cellPadding(16, 8); // around a cell's text, both sides together

// Rows with room to breathe; the rung the next message goes to stands out
// in bold. Rows are read, never chosen, so no cell wears a focus frame.
class LadderDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        return QStyledItemDelegate::sizeHint(option, index) + cellPadding;
    }

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->state &= ~QStyle::State_HasFocus;
        if (index.data(LadderModel::isNextRole).toBool())
            option->font.setWeight(QFont::DemiBold);
    }
};

void showText(QLabel *label, const std::optional<QString> &text)
{
    label->setText(text.value_or(QString()));
    label->setAccessibleName(text.value_or(QString()));
    label->setVisible(text.has_value());
}

} // namespace

ModelLadderWindow::ModelLadderWindow(
    ModelRanker &ranker, ChatViewModel &chat, RefreshAction onRefresh, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_ladder(new LadderModel(ranker, chat, this))
    , m_onRefresh(std::move(onRefresh))
    , m_table(new QTreeView(this))
    , m_nextOff(makeLine(false))
    , m_lastAnswerOff(makeLine(false))
    , m_note(makeLine(true))
{
    setWindowTitle(QStringLiteral("Model Ladder"));
    setAccessibleName(QStringLiteral("Model Ladder"));
    resize(defaultSize);

    m_table->setModel(m_ladder);
    m_table->setItemDelegate(new LadderDelegate(m_table));
    m_table->setRootIsDecorated(false);
    m_table->setUniformRowHeights(true);
    m_table->setAlternatingRowColors(true);
    m_table->setSelectionMode(QAbstractItemView::NoSelection);
    m_table->setAccessibleName(QStringLiteral("Models on the ladder, best first"));
    m_table->header()->setStretchLastSection(false);
    m_table->header()->setSectionsMovable(false);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(16, 12, 16, 14);
    column->setSpacing(8);
    column->addWidget(makeTopRow());
    column->addWidget(m_table, 1);
    column->addWidget(m_nextOff);
    column->addWidget(m_lastAnswerOff);
    column->addWidget(m_note);

    for (const QKeySequence &keys : { QKeySequence(QKeySequence::Close), QKeySequence(Qt::Key_Escape) })
        connect(new QShortcut(keys, this), &QShortcut::activated, this, &QWidget::close);

    connect(m_ladder, &LadderModel::textsChanged, this, &ModelLadderWindow::followTexts);
    fitColumns();
    followTexts();
}

QWidget *ModelLadderWindow::makeTopRow()
{
    auto *row = new QWidget(this);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    m_measured = makeLine(true);
    m_progress = new QProgressBar(row);
    m_progress->setAccessibleName(QStringLiteral("Refresh progress"));
    m_progress->setTextVisible(false);
    m_progress->setFixedWidth(120);
    m_refresh = new QPushButton(LadderModel::refreshTitle, row);
    connect(m_refresh, &QPushButton::clicked, this, [this] {
        if (m_onRefresh)
            m_onRefresh();
    });
    layout->addWidget(m_measured, 1);
    layout->addWidget(m_progress);
    layout->addWidget(m_refresh);
    return row;
}

QLabel *ModelLadderWindow::makeLine(bool secondary)
{
    auto *label = new QLabel(this);
    // Model names come from the service: shown as they are, never as markup.
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    if (secondary)
        Palette::useSecondaryText(label);
    return label;
}

// The name takes the room that is left; the figures keep their width.
void ModelLadderWindow::fitColumns()
{
    QHeaderView *header = m_table->header();
    for (int i = 0; i < LadderModel::columns; ++i) {
        header->setSectionResizeMode(
            i, i == LadderModel::nameColumn ? QHeaderView::Stretch : QHeaderView::ResizeToContents);
    }
}

void ModelLadderWindow::followTexts()
{
    showText(m_measured, m_ladder->measured());
    showText(m_nextOff, m_ladder->nextOffLadder());
    showText(m_lastAnswerOff, m_ladder->lastAnswerOffLadder());
    showText(m_note, m_ladder->note());

    const bool refreshing = m_ladder->isRefreshing();
    m_refresh->setText(m_ladder->refreshText());
    m_refresh->setAccessibleName(m_ladder->refreshText());
    m_refresh->setEnabled(!refreshing);
    m_progress->setVisible(refreshing);
    // Without a total yet the bar shows that work goes on.
    m_progress->setRange(0, m_ladder->progress().total);
    m_progress->setValue(m_ladder->progress().done);
}
