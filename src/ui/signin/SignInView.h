#pragma once

#include <QWidget>

class AppModel;
class IssueView;
class QBoxLayout;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

// The screen shown while signed out: the app's sign and name, the notice
// (why the user was signed out), the issue of a failed attempt, and either
// the progress of a running attempt with Cancel, or the browser sign-in
// button with the way to paste a key. Everything it shows comes from the
// application model; the typed key is its only state, and it is forgotten
// whenever the signed-in state changes.
class SignInView : public QWidget
{
    Q_OBJECT
public:
    explicit SignInView(AppModel &app, QWidget *parent = nullptr);

    QLabel *noticeLabel() const { return m_notice; }
    IssueView *issueView() const { return m_issue; }
    QWidget *workingBlock() const { return m_working; }
    QPushButton *cancelButton() const { return m_cancel; }
    QWidget *idleBlock() const { return m_idle; }
    QPushButton *signInButton() const { return m_signIn; }
    QPushButton *keyLink() const { return m_keyLink; }
    QWidget *keyRow() const { return m_keyRow; }
    QLineEdit *keyField() const { return m_keyField; }
    QPushButton *continueButton() const { return m_continue; }

protected:
    void changeEvent(QEvent *event) override;

private:
    QWidget *makeCentredColumn();
    void addHeader(QBoxLayout *column);
    QWidget *makeWorkingBlock();
    QWidget *makeIdleBlock();
    QWidget *makeKeyRow(QWidget *parent);
    void styleSignInButton();
    void applyColors();

    void followState();
    void followNotice();
    void followKeyText();
    void submitKey();
    void openKeyField();

    AppModel &m_app;
    QLabel *m_symbol = nullptr;
    QLabel *m_subtitle = nullptr;
    QLabel *m_notice = nullptr;
    IssueView *m_issue = nullptr;
    QWidget *m_working = nullptr;
    QProgressBar *m_progress = nullptr;
    QLabel *m_waiting = nullptr;
    QPushButton *m_cancel = nullptr;
    QWidget *m_idle = nullptr;
    QPushButton *m_signIn = nullptr;
    QPushButton *m_keyLink = nullptr;
    QWidget *m_keyRow = nullptr;
    QLineEdit *m_keyField = nullptr;
    QPushButton *m_continue = nullptr;
};
