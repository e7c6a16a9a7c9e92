#pragma once

#include "service/ORError.h"

#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;

// Stands in for the issue view of the sign-in area until it is available:
// the message and a retry button, no details.
class IssueBox : public QWidget
{
    Q_OBJECT
public:
    IssueBox(const AppIssue &issue, const QString &retryTitle, std::function<void()> onRetry,
             QWidget *parent = nullptr);
    void setIssue(const AppIssue &issue);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QLabel *m_message;
};
