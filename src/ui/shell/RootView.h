#pragma once

#include <QPointer>
#include <QWidget>

class AppModel;
class ChatRootView;
class QStackedLayout;
class SignInView;

// The main window's content: the sign-in screen while signed out, the chat
// window while signed in. Each is built when it is shown and let go when
// the signed-in state changes; the new one fades in.
class RootView : public QWidget
{
    Q_OBJECT
public:
    explicit RootView(AppModel &app, QWidget *parent = nullptr);

    QWidget *currentView() const;
    // The one showing, or null.
    SignInView *signInView() const;
    ChatRootView *chatView() const;

    void setFadeDuration(int ms) { m_fadeMs = ms; }

Q_SIGNALS:
    // The chat window asked for the model ladder window.
    void modelLadderRequested();

private:
    void followSignedIn();
    void fadeIn(QWidget *view);

    AppModel &m_app;
    QStackedLayout *m_stack;
    QPointer<QWidget> m_current;
    bool m_showsChat = false;
    int m_fadeMs = 200;
};
