#pragma once

#include <QAbstractButton>

// A round icon-only button: a filled circle with a symbol cut out of it in a
// contrasting colour, like the send, stop and remove buttons of the input
// bar. Its tooltip is its accessible name.
class SymbolButton : public QAbstractButton
{
    Q_OBJECT
public:
    enum Tone {
        accentTone, // accent circle, white symbol; secondary at 50 % while disabled
        primaryTone, // circle in the text colour, symbol in the background colour
        overlayTone, // black circle at 50 %, white symbol (over an image)
    };

    // side: the whole button; padding: room between the button's edge and
    // the circle.
    SymbolButton(const char *iconName, const QString &name, Tone tone, int side, int padding,
        QWidget *parent = nullptr);

    QSize sizeHint() const override;
    // The circle's colour as painted now (tests read the disabled look).
    QColor circleColour() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor symbolColour() const;

    const char *m_iconName;
    Tone m_tone;
    int m_side;
    int m_padding;
};
