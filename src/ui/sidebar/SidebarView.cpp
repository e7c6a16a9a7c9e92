#include "ui/sidebar/SidebarView.h"

#include "core/conversation/ChatViewModel.h"
#include "core/search/ChatSearch.h"
#include "core/store/ChatStore.h"
#include "ui/icons/Icons.h"
#include "ui/sidebar/ChatListModel.h"
#include "ui/sidebar/RenameChatDialog.h"
#include "ui/style/Palette.h"
#include "ui/style/PaletteFollower.h"

#include <QAction>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>

namespace {

QLabel *makeEmptyLabel(QWidget *parent)
{
    auto *label = new QLabel(QStringLiteral("No saved chats yet"), parent);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    QFont callout = label->font();
    callout.setPixelSize(12);
    label->setFont(callout);
    // A role rather than a colour taken now, so that it follows the desktop
    // between light and dark.
    label->setForegroundRole(Palette::secondaryRole);
    // It lies over the list; clicks go to the list below.
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    return label;
}

QListView *makeList(QWidget *parent)
{
    auto *list = new QListView(parent);
    list->setFrameShape(QFrame::NoFrame);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setTextElideMode(Qt::ElideRight);
    list->setWordWrap(false);
    list->setUniformItemSizes(true);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    list->setAccessibleName(QStringLiteral("Chats"));
    // A style sheet takes the palette's colours when it is applied, and
    // then holds the list's palette, so the sidebar around it tells when
    // the colours change; the sheet only takes the new ones when set anew.
    PaletteFollower::follow(parent, [list] {
        list->setStyleSheet(QString());
        list->setStyleSheet(QStringLiteral("QListView { background: transparent; padding: 6px; }"
                                           "QListView::item { padding: 6px 8px; border-radius: 6px; }"
                                           "QListView::item:selected { background: palette(highlight);"
                                           " color: palette(highlighted-text); }"));
    });
    return list;
}

} // namespace

SidebarView::SidebarView(ChatViewModel &vm, ChatStore &store, ChatSearch &search, QWidget *parent)
    : QWidget(parent)
    , m_vm(vm)
    , m_search(search)
    , m_model(new ChatListModel(store, this))
    , m_searchField(makeSearchField())
    , m_list(makeList(this))
    , m_emptyLabel(makeEmptyLabel(this))
{
    m_model->setFilter([&search](const QUuid &id) { return search.shows(id); });
    m_list->setModel(m_model);

    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(0);
    // Inset as far as the rows' text below it.
    auto *fieldRow = new QHBoxLayout;
    fieldRow->setContentsMargins(8, 10, 8, 2);
    fieldRow->addWidget(m_searchField);
    grid->addLayout(fieldRow, 0, 0);
    grid->addWidget(m_list, 1, 0);
    grid->addWidget(m_emptyLabel, 1, 0);
    grid->setRowStretch(1, 1);

    // The model follows the store first (it connected first), so the rows
    // are current when the selection follows here.
    connect(&store, &ChatStore::summariesChanged, this, [this] {
        m_shownChat = {};
        followOpenChat();
        updateEmptyLabel();
    });
    connect(&vm, &ChatViewModel::chatChanged, this, &SidebarView::followOpenChat);
    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
        [this](const QItemSelection &selected) { onSelected(selected); });
    connect(m_list, &QWidget::customContextMenuRequested, this, &SidebarView::showContextMenu);
    connect(&search, &ChatSearch::resultsChanged, this, &SidebarView::followResults);

    followOpenChat();
    updateEmptyLabel();
}

QLineEdit *SidebarView::makeSearchField()
{
    auto *field = new QLineEdit(this);
    field->setPlaceholderText(QStringLiteral("Search chats"));
    field->setAccessibleName(QStringLiteral("Search chats"));
    field->setClearButtonEnabled(true);
    auto *clear = new QAction(field);
    clear->setShortcut(Qt::Key_Escape);
    clear->setShortcutContext(Qt::WidgetShortcut);
    connect(clear, &QAction::triggered, field, &QLineEdit::clear);
    field->addAction(clear);
    connect(field, &QLineEdit::textChanged, &m_search, &ChatSearch::setQuery);
    field->installEventFilter(this);
    return field;
}

void SidebarView::focusSearch()
{
    m_searchField->setFocus(Qt::ShortcutFocusReason);
    m_searchField->selectAll();
}

// Whoever comes to the field is about to search: the index starts reading
// the chats now rather than at the first key.
bool SidebarView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_searchField && event->type() == QEvent::FocusIn)
        m_search.warmUp();
    return QWidget::eventFilter(watched, event);
}

void SidebarView::followResults()
{
    m_model->refilter();
    m_shownChat = {};
    followOpenChat();
    updateEmptyLabel();
}

QMenu *SidebarView::contextMenu(int row, QWidget *parent)
{
    const QUuid id = m_model->summary(row).id;
    auto *menu = new QMenu(parent);
    QAction *rename = menu->addAction(QStringLiteral("Rename…"));
    connect(rename, &QAction::triggered, this, [this, id] {
        const int current = m_model->rowOf(id);
        if (current >= 0)
            openRenameDialog(current);
    });
    QAction *remove = menu->addAction(Icons::symbol("edit-delete"), QStringLiteral("Delete"));
    remove->setProperty("destructive", true);
    connect(remove, &QAction::triggered, this, [this, id] { m_vm.deleteChat(id); });
    return menu;
}

void SidebarView::openRenameDialog(int row)
{
    const ChatSummary summary = m_model->summary(row);
    if (m_renaming)
        m_renaming->deleteLater(); // another chat's sheet gives way
    m_renaming = new RenameChatDialog(summary.id, summary.title, window());
    m_renaming->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_renaming, &RenameChatDialog::saveRequested, this,
        [this](const QUuid &id, const QString &title) { m_vm.rename(id, title); });
    m_renaming->open();
}

void SidebarView::showContextMenu(const QPoint &pos)
{
    const QModelIndex index = m_list->indexAt(pos);
    if (!index.isValid())
        return;
    QMenu *menu = contextMenu(index.row(), this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(m_list->viewport()->mapToGlobal(pos));
}

// Called at every change of the open chat, streamed text included, so it
// does nothing unless the open chat is another one.
void SidebarView::followOpenChat()
{
    const QUuid open = m_vm.chat().id;
    if (open == m_shownChat)
        return;
    m_shownChat = open;
    const int row = m_model->rowOf(open);
    m_syncing = true;
    QItemSelectionModel *selection = m_list->selectionModel();
    if (row < 0) {
        selection->clear();
    } else {
        const QModelIndex index = m_model->index(row);
        selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
        m_list->scrollTo(index);
    }
    m_syncing = false;
}

// Clearing the selection opens nothing.
void SidebarView::onSelected(const QItemSelection &selected)
{
    if (m_syncing || selected.indexes().isEmpty())
        return;
    const QUuid id = m_model->summary(selected.indexes().first().row()).id;
    m_vm.select(id);
    // When the chat could not be opened, the selection goes back to the
    // open one.
    m_shownChat = {};
    followOpenChat();
}

void SidebarView::updateEmptyLabel()
{
    const QString text
        = m_search.isActive() ? QStringLiteral("No chats match") : QStringLiteral("No saved chats yet");
    m_emptyLabel->setText(text);
    m_emptyLabel->setAccessibleName(text);
    // While the index has not answered yet, the list still shows the chats
    // it showed.
    m_emptyLabel->setVisible(m_model->rowCount() == 0 && m_search.isAnswered());
}
