#include "ui/widgets/WrappingButton.h"

#include "ui/widgets/TextWrap.h"

#include <QStyle>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace {

QString escapeMnemonics(QString text)
{
    return text.replace(QLatin1Char('&'), QLatin1String("&&"));
}

QString oneLine(QString text)
{
    for (QChar &c : text) {
        if (c == u'\t' || c == u'\n' || c == u'\r')
            c = u' ';
    }
    return text;
}

// A width that no title reaches, to tell the text from the frame around it.
constexpr int wide = 100000;

} // namespace

WrappingButton::WrappingButton(QWidget *parent)
    : QPushButton(parent)
{
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void WrappingButton::setTitle(const QString &title)
{
    m_title = oneLine(title);
    setText(escapeMnemonics(m_title));
    setAccessibleName(m_title);
    updateGeometry();
}

QSize WrappingButton::sizeFor(const QStringList &lines) const
{
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text = escapeMnemonics(lines.join(QLatin1Char('\n')));
    const QSize text = fontMetrics().size(Qt::TextShowMnemonic, option.text);
    return style()->sizeFromContents(QStyle::CT_PushButton, &option, text, this);
}

int WrappingButton::chromeWidth() const
{
    QStyleOptionButton option;
    initStyleOption(&option);
    const QSize text(wide, fontMetrics().height());
    return style()->sizeFromContents(QStyle::CT_PushButton, &option, text, this).width() - wide;
}

QStringList WrappingButton::linesAt(int width) const
{
    return TextWrap::lines(m_title, font(), width - chromeWidth());
}

int WrappingButton::heightForWidth(int width) const
{
    return sizeFor(linesAt(width)).height();
}

QSize WrappingButton::sizeHint() const
{
    return sizeFor({ m_title });
}

QSize WrappingButton::minimumSizeHint() const
{
    const QSize whole = sizeHint();
    return { qMin(whole.width(), chromeWidth() + fontMetrics().averageCharWidth() * 4), whole.height() };
}

// As QPushButton paints itself, but with the title broken into the lines
// that fit the button's width.
void WrappingButton::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text = escapeMnemonics(linesAt(width()).join(QLatin1Char('\n')));
    painter.drawControl(QStyle::CE_PushButton, option);
}
