#pragma once

#include <QTextEdit>

// Read-only plain text that wraps onto as many lines as it needs, breaking
// inside long words too (a URL or a JSON body never holds its column wide),
// and that can be selected and copied. Its height follows its width, like a
// word-wrapped label's.
class WrappingText : public QTextEdit
{
    Q_OBJECT
public:
    explicit WrappingText(QWidget *parent = nullptr);

    void setText(const QString &text);
    QString text() const { return toPlainText(); }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;
};
