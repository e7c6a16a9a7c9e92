#pragma once

#include <QDialog>
#include <QUuid>

class QLineEdit;
class QPushButton;

// The sheet that renames one chat: "Rename chat", a field preset to the
// title, "Cancel" and "Save". Return in the field saves. It only reports
// the text; what an empty title means is the controller's decision.
class RenameChatDialog : public QDialog
{
    Q_OBJECT
public:
    RenameChatDialog(const QUuid &chatId, const QString &title, QWidget *parent = nullptr);

    QUuid chatId() const { return m_chatId; }
    QString newTitle() const;
    QLineEdit *field() const { return m_field; }

Q_SIGNALS:
    void saveRequested(const QUuid &chatId, const QString &title);

private:
    QUuid m_chatId;
    QLineEdit *m_field;
};
