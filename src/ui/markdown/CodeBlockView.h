#pragma once

#include <QWidget>

class CodeTextView;
class QTimer;
class QToolButton;
class WrappingLabel;

// One fenced code block: a header with the language (or "code") and a Copy
// button, over the code in a monospace font that scrolls sideways instead of
// wrapping. Copy puts the code on the clipboard as plain text and shows
// "Copied" for a moment.
class CodeBlockView : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QString language READ language WRITE setLanguage NOTIFY languageChanged)
    Q_PROPERTY(QString code READ code WRITE setCode NOTIFY codeChanged)
    Q_PROPERTY(bool copied READ isCopied NOTIFY copiedChanged)
public:
    explicit CodeBlockView(const QString &language = {}, const QString &code = {}, QWidget *parent = nullptr);

    QString language() const { return m_language; }
    void setLanguage(const QString &language);
    QString code() const;
    void setCode(const QString &code);
    bool isCopied() const { return m_copied; }

    // How long "Copied" stays; tests shorten it.
    void setCopiedInterval(int milliseconds);

public Q_SLOTS:
    void copyToClipboard();

Q_SIGNALS:
    void languageChanged();
    void codeChanged();
    void copiedChanged();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QWidget *makeHeader();
    void setCopied(bool copied);
    void updateCopyButton();

    QString m_language;
    bool m_copied = false;
    QWidget *m_header;
    WrappingLabel *m_caption;
    QToolButton *m_copyButton;
    CodeTextView *m_codeView;
    QTimer *m_copiedReset;
};
