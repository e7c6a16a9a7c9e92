#pragma once

#include <QTextEdit>

// Read-only, selectable code at its natural width: long lines scroll
// sideways (by a sideways wheel, Shift+wheel, or by selecting past the edge)
// with no visible scroll bars, and the height always fits every line, so an
// upright wheel turn goes on to scroll the conversation.
class CodeTextView : public QTextEdit
{
    Q_OBJECT
public:
    explicit CodeTextView(QWidget *parent = nullptr);

    // Appends in place when code extends what is shown, as while streaming,
    // so the layout of the earlier lines and any selection are kept.
    void setCode(const QString &code);
    QString code() const { return m_code; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void wheelEvent(QWheelEvent *event) override;

private:
    void fitHeight();

    QString m_code;
};
