#pragma once

#include <QPushButton>

// A push button whose title wraps onto more lines, breaking as TextWrap
// does, when the button is given less width than the title needs on one
// line. The title is plain text: "&" shows as itself and never marks a
// mnemonic, and a tab or line break in it reads as a blank.
class WrappingButton : public QPushButton
{
    Q_OBJECT
public:
    explicit WrappingButton(QWidget *parent = nullptr);

    QString title() const { return m_title; }
    // Also the button's accessible name.
    void setTitle(const QString &title);

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QStringList linesAt(int width) const;
    QSize sizeFor(const QStringList &lines) const;
    int chromeWidth() const;

    QString m_title;
};
