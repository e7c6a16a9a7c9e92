#pragma once

#include <QPointer>
#include <QToolButton>
#include <functional>
#include <optional>

class ChatViewModel;
class FreeQuota;
class ModelRanker;
class QActionGroup;
class QMenu;

// The toolbar's pull-down of models. The closed button shows a status dot
// (ready green, switching yellow, failing red) and the pinned model's name
// or "Auto (fastest free)". The menu, built afresh each time it opens,
// offers automatic choice, every free model with its cooling state, the
// ranker's note, a refresh of the list, and the model ladder window.
class ModelMenu : public QToolButton
{
    Q_OBJECT
public:
    using RefreshAction = std::function<void()>;

    ModelMenu(ChatViewModel &vm, ModelRanker &ranker, RefreshAction onRefresh, QWidget *parent = nullptr);

    // The free requests left today: in the button's tooltip and beside the
    // ranker's note in the menu.
    void setQuota(FreeQuota *quota);

    // The text the button shows, as a person reads it (no mnemonic escapes).
    QString label() const { return m_label; }
    QMenu *itemsMenu() const { return m_menu; }
    // Fills the menu from the current state; runs when it is about to show.
    void rebuildMenu();
    // Pops the menu up below the button (what a click does).
    void openMenu();

    QSize sizeHint() const override;

    // The display name of a pinned model identifier: the ranker's name for
    // it, else its last non-empty "/" piece without ":free".
    static QString displayName(const QString &modelId, const ModelRanker &ranker);
    // A name from the service as one line of menu or button text: Qt reads
    // "&" there as a mnemonic, and a tab as the start of a shortcut.
    static QString escapeMnemonics(QString text);

Q_SIGNALS:
    // "Show Model Ladder…" was chosen.
    void ladderRequested();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void updateLabel();
    void updateQuota();
    void addModelItems();
    void addRefreshItem();

    ChatViewModel &m_vm;
    ModelRanker &m_ranker;
    RefreshAction m_onRefresh;
    QPointer<FreeQuota> m_quota;
    QMenu *m_menu;
    QPointer<QActionGroup> m_choices;
    QString m_label;
    int m_dotStatus = -1;
};
