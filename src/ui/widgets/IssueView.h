#pragma once

#include "core/util/AppIssue.h"

#include <QWidget>
#include <functional>

class QLabel;
class QPushButton;
class QToolButton;
class SelectableText;

// A problem shown to the user: a warning sign and the message, a "Show
// Details" toggle over the technical details (selectable for copying), and
// below them a button that opens the page the issue names (its settings,
// say), when it names one, and a retry button when there is something to
// retry. Sits on a rounded, faintly orange box. The details start hidden;
// setIssue() updates the box in place and keeps whether they are shown.
class IssueView : public QWidget
{
    Q_OBJECT
public:
    // Without onRetry there is no retry button.
    IssueView(const AppIssue &issue, const QString &retryTitle, std::function<void()> onRetry,
        QWidget *parent = nullptr);

    void setIssue(const AppIssue &issue);
    const AppIssue &issue() const { return m_issue; }

    bool detailsShown() const;
    void setDetailsShown(bool shown);

    QLabel *messageLabel() const { return m_message; }
    QToolButton *detailsToggle() const { return m_toggle; }
    SelectableText *detailsText() const { return m_details; }
    QPushButton *retryButton() const { return m_retry; }
    // Hidden while the issue names no page.
    QPushButton *actionButton() const { return m_action; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    QWidget *makeMessageRow();
    QWidget *makeDetails();
    QWidget *makeButtons(const QString &retryTitle);
    void applyColors();

    AppIssue m_issue;
    std::function<void()> m_onRetry;
    QLabel *m_icon = nullptr;
    QLabel *m_message = nullptr;
    QToolButton *m_toggle = nullptr;
    QWidget *m_detailsPanel = nullptr;
    SelectableText *m_details = nullptr;
    QPushButton *m_action = nullptr;
    QPushButton *m_retry = nullptr;
};
