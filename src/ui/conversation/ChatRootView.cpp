#include "ui/conversation/ChatRootView.h"

#include "core/app/AppModel.h"
#include "core/search/ChatSearch.h"
#include "ui/conversation/ConversationView.h"
#include "ui/icons/Icons.h"
#include "ui/input/InputBar.h"
#include "ui/modelmenu/ModelMenu.h"
#include "ui/settings/SettingsView.h"
#include "ui/sidebar/SidebarView.h"
#include "ui/style/Palette.h"
#include "ui/style/PaletteFollower.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QPainter>
#include <QSplitter>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int sidebarMin = 160;
constexpr int sidebarIdeal = 210;
constexpr int sidebarMax = 280;

// A hairline between the columns.
class HairlineHandle : public QSplitterHandle
{
public:
    using QSplitterHandle::QSplitterHandle;

protected:
    void paintEvent(QPaintEvent *) override { QPainter(this).fillRect(rect(), Palette::separator(this)); }
};

class HairlineSplitter : public QSplitter
{
public:
    using QSplitter::QSplitter;

protected:
    QSplitterHandle *createHandle() override { return new HairlineHandle(orientation(), this); }
};

QToolButton *makeToolButton(const char *icon, const QString &tip, QWidget *parent)
{
    auto *button = new QToolButton(parent);
    button->setAutoRaise(true);
    button->setIcon(Icons::symbol(icon));
    button->setIconSize(QSize(18, 18));
    button->setToolTip(tip);
    button->setAccessibleName(tip);
    return button;
}

} // namespace

ChatRootView::ChatRootView(AppModel &app, QWidget *parent)
    : QWidget(parent)
    , m_app(app)
    , m_search(new ChatSearch(
          app.store(), [&app]() -> ChatSearchIndex & { return app.search(); }, this))
    , m_splitter(new HairlineSplitter(Qt::Horizontal, this))
    , m_sidebar(new SidebarView(app.chat(), app.store(), *m_search))
    , m_conversation(new ConversationView(app.chat()))
{
    m_conversation->inputBar()->setQuota(&app.quota());
    m_conversation->showMatchesOf(*m_search);
    m_sidebar->setMinimumWidth(sidebarMin);
    m_sidebar->setMaximumWidth(sidebarMax);

    // The conversation on the text background, the list beside it on the
    // window's, with a hairline between them.
    auto *right = new QWidget;
    PaletteFollower::follow(right, [right] {
        QPalette palette = right->palette();
        palette.setColor(QPalette::Window, palette.color(QPalette::Base));
        right->setPalette(palette);
    });
    right->setAutoFillBackground(true);
    auto *rightColumn = new QVBoxLayout(right);
    rightColumn->setContentsMargins(0, 0, 0, 0);
    rightColumn->setSpacing(0);
    rightColumn->addWidget(makeToolbar());
    rightColumn->addWidget(m_conversation, 1);

    m_splitter->addWidget(m_sidebar);
    m_splitter->addWidget(right);
    m_splitter->setCollapsible(0, false);
    m_splitter->setCollapsible(1, false);
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setSizes({ sidebarIdeal, 1000 });
    m_splitter->setHandleWidth(1);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_splitter);

    connect(&app, &AppModel::showSettingsChanged, this, &ChatRootView::followShowSettings);
    followShowSettings();
}

// The dialog belongs to the window, which may outlive this view (and the
// application model may already be gone): it goes without a word.
ChatRootView::~ChatRootView()
{
    if (m_settingsDialog) {
        m_settingsDialog->disconnect(this);
        delete m_settingsDialog;
    }
}

QWidget *ChatRootView::makeToolbar()
{
    auto *bar = new QWidget;
    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(12, 6, 12, 6);
    row->setSpacing(4);

    m_modelMenu = new ModelMenu(
        m_app.chat(), m_app.ranker(), [this] { m_app.refreshModels(true); }, bar);
    m_modelMenu->setQuota(&m_app.quota());
    connect(m_modelMenu, &ModelMenu::ladderRequested, this, &ChatRootView::modelLadderRequested);
    m_newChat = makeToolButton("document-new", QStringLiteral("New chat"), bar);
    m_settings = makeToolButton("preferences-system", QStringLiteral("Settings"), bar);
    connect(m_newChat, &QToolButton::clicked, this, [this] { m_app.chat().newChat(); });
    connect(m_settings, &QToolButton::clicked, this, [this] { m_app.setShowSettings(true); });

    row->addStretch(1);
    row->addWidget(m_modelMenu);
    row->addWidget(m_newChat);
    row->addWidget(m_settings);
    return bar;
}

void ChatRootView::followShowSettings()
{
    if (!m_app.showSettings()) {
        if (m_settingsDialog)
            m_settingsDialog->close();
        return;
    }
    if (m_settingsDialog)
        return;
    m_settingsDialog = new SettingsView(window());
    m_settingsDialog->setAttribute(Qt::WA_DeleteOnClose);
    m_settingsDialog->setModal(true);
    connect(m_settingsDialog, &QDialog::finished, this, [this] {
        m_app.setShowSettings(false);
        // On Wayland the window may not get the keyboard back by itself
        // when the dialog goes.
        window()->activateWindow();
    });
    m_settingsDialog->open();
}
