#include "ui/widgets/WrappingText.h"

#include <QTextDocument>
#include <cmath>

namespace {

constexpr int preferredWidth = 320;
constexpr int narrowestWidth = 60;

} // namespace

WrappingText::WrappingText(QWidget *parent)
    : QTextEdit(parent)
{
    setReadOnly(true);
    setAcceptRichText(false);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setContextMenuPolicy(Qt::DefaultContextMenu);
    document()->setDocumentMargin(0);
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    connect(document(), &QTextDocument::contentsChanged, this, &QWidget::updateGeometry);
}

void WrappingText::setText(const QString &text)
{
    setPlainText(text);
}

int WrappingText::heightForWidth(int width) const
{
    // A copy of the document laid out at that width, so that asking never
    // disturbs the shown one.
    QTextDocument probe;
    probe.setDefaultFont(font());
    probe.setDocumentMargin(document()->documentMargin());
    probe.setDefaultTextOption(document()->defaultTextOption());
    probe.setPlainText(toPlainText());
    probe.setTextWidth(qMax(1, width - 2 * frameWidth()));
    return int(std::ceil(probe.size().height())) + 2 * frameWidth();
}

QSize WrappingText::sizeHint() const
{
    return QSize(preferredWidth, heightForWidth(preferredWidth));
}

QSize WrappingText::minimumSizeHint() const
{
    return QSize(narrowestWidth, fontMetrics().lineSpacing());
}

void WrappingText::resizeEvent(QResizeEvent *event)
{
    QTextEdit::resizeEvent(event);
    if (height() != heightForWidth(width()))
        updateGeometry();
}
