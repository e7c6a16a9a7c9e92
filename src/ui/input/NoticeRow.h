#pragma once

#include "core/conversation/ImageNotice.h"

#include <QWidget>

class WrappingButton;
class WrappingLabel;

// The image notice above the attachments: a crossed-out eye in orange, the
// notice's message and, when the notice offers a model that can see images,
// a button to switch to it.
class NoticeRow : public QWidget
{
    Q_OBJECT
public:
    explicit NoticeRow(QWidget *parent = nullptr);

    // Shows the notice, or hides the row when there is none.
    void showNotice(const std::optional<ImageNotice> &notice);

    WrappingLabel *messageLabel() const { return m_message; }
    WrappingButton *switchButton() const { return m_switch; }

Q_SIGNALS:
    void switchRequested();

protected:
    void changeEvent(QEvent *event) override;

private:
    void styleSwitchButton();

    QWidget *m_icon;
    WrappingLabel *m_message;
    WrappingButton *m_switch;
};
