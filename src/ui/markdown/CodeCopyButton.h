#pragma once

#include <QToolButton>
#include <functional>

class QTimer;

// The Copy button in a code block's caption: puts the code, as the code
// callback gives it at the moment of the click, on the clipboard as plain
// text and says "Copied" for a moment.
class CodeCopyButton : public QToolButton
{
    Q_OBJECT
    Q_PROPERTY(bool copied READ isCopied NOTIFY copiedChanged)
public:
    explicit CodeCopyButton(std::function<QString()> code, QWidget *parent = nullptr);

    bool isCopied() const { return m_copied; }
    // How long "Copied" stays; tests shorten it.
    void setCopiedInterval(int milliseconds);

public Q_SLOTS:
    void copyToClipboard();

Q_SIGNALS:
    void copiedChanged();

private:
    void setCopied(bool copied);
    void showState();

    std::function<QString()> m_code;
    bool m_copied = false;
    QTimer *m_copiedReset;
};
