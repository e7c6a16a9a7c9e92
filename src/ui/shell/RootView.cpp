#include "ui/shell/RootView.h"

#include "core/app/AppModel.h"
#include "ui/conversation/ChatRootView.h"
#include "ui/signin/SignInView.h"

#include <QGraphicsOpacityEffect>
#include <QPropertyAnimation>
#include <QStackedLayout>

RootView::RootView(AppModel &app, QWidget *parent)
    : QWidget(parent)
    , m_app(app)
    , m_stack(new QStackedLayout(this))
{
    m_stack->setContentsMargins(0, 0, 0, 0);
    connect(&app, &AppModel::isSignedInChanged, this, &RootView::followSignedIn);
    followSignedIn();
}

QWidget *RootView::currentView() const
{
    return m_current;
}

SignInView *RootView::signInView() const
{
    return m_showsChat ? nullptr : qobject_cast<SignInView *>(m_current.data());
}

ChatRootView *RootView::chatView() const
{
    return m_showsChat ? qobject_cast<ChatRootView *>(m_current.data()) : nullptr;
}

void RootView::followSignedIn()
{
    const bool showChat = m_app.isSignedIn();
    if (m_current && showChat == m_showsChat)
        return;
    // The old view may be the sender of what led here (a chat request that
    // found the key revoked), so it goes once control is back in the loop.
    if (QWidget *old = m_current) {
        m_stack->removeWidget(old);
        old->hide();
        old->deleteLater();
    }
    QWidget *view = nullptr;
    if (showChat) {
        auto *chat = new ChatRootView(m_app, this);
        connect(chat, &ChatRootView::modelLadderRequested, this, &RootView::modelLadderRequested);
        view = chat;
    } else {
        view = new SignInView(m_app, this);
    }
    m_showsChat = showChat;
    m_current = view;
    m_stack->addWidget(view);
    m_stack->setCurrentWidget(view);
    if (isVisible())
        fadeIn(view);
}

void RootView::fadeIn(QWidget *view)
{
    if (m_fadeMs <= 0)
        return;
    auto *effect = new QGraphicsOpacityEffect(view);
    effect->setOpacity(0.0);
    view->setGraphicsEffect(effect);
    auto *fade = new QPropertyAnimation(effect, "opacity", view);
    fade->setDuration(m_fadeMs);
    fade->setStartValue(0.0);
    fade->setEndValue(1.0);
    fade->setEasingCurve(QEasingCurve::InOutQuad);
    // An opacity effect renders the whole view off screen; drop it once
    // the view is fully there.
    connect(fade, &QPropertyAnimation::finished, view, [view] { view->setGraphicsEffect(nullptr); });
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}
