#pragma once

#include <QWidget>
#include <functional>

class ChatViewModel;
class LadderModel;
class ModelRanker;
class QLabel;
class QProgressBar;
class QPushButton;
class QTreeView;

// The "Model Ladder" window: the ranker's ladder with what was measured of
// each model, which one the open chat's next message goes to and which one
// answered last, when the list was measured, and a refresh of the list with
// its progress. Everything it shows comes from a LadderModel and follows it.
class ModelLadderWindow : public QWidget
{
    Q_OBJECT
public:
    using RefreshAction = std::function<void()>;

    ModelLadderWindow(
        ModelRanker &ranker, ChatViewModel &chat, RefreshAction onRefresh, QWidget *parent = nullptr);

    LadderModel *ladder() const { return m_ladder; }
    QTreeView *table() const { return m_table; }
    QPushButton *refreshButton() const { return m_refresh; }
    QProgressBar *progressBar() const { return m_progress; }

private:
    QWidget *makeTopRow();
    QLabel *makeLine(bool secondary);
    void fitColumns();
    void followTexts();

    LadderModel *m_ladder;
    RefreshAction m_onRefresh;
    QTreeView *m_table;
    QLabel *m_measured = nullptr;
    QProgressBar *m_progress = nullptr;
    QPushButton *m_refresh = nullptr;
    QLabel *m_nextOff;
    QLabel *m_lastAnswerOff;
    QLabel *m_note;
};
