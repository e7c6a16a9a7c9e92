#include "ui/input/InputBar.h"

#include "core/conversation/ChatViewModel.h"
#include "core/images/ImageLoader.h"
#include "core/images/PasteboardImages.h"
#include "core/quota/FreeQuota.h"
#include "ui/input/AttachmentStrip.h"
#include "ui/input/GrowingTextView.h"
#include "ui/input/InputStyle.h"
#include "ui/input/NoticeRow.h"
#include "ui/input/SymbolButton.h"
#include "ui/style/Palette.h"

#include <QDragEnterEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QVBoxLayout>

namespace {

const QString placeholder = QStringLiteral("Message Tolvi");

} // namespace

InputBar::InputBar(ChatViewModel &vm, QWidget *parent)
    : QWidget(parent)
    , m_vm(vm)
    , m_quotaLine(new QLabel(this))
    , m_notice(new NoticeRow(this))
    , m_strip(new AttachmentStrip(this))
    , m_editor(new GrowingTextView(this))
    , m_send(new SymbolButton(
          "go-up", QStringLiteral("Send"), SymbolButton::accentTone, InputStyle::buttonSide, 0, this))
    , m_stop(new SymbolButton("media-playback-stop", QStringLiteral("Stop"), SymbolButton::primaryTone,
          InputStyle::buttonSide, 0, this))
    , m_images(new ImageLoader(this))
{
    m_editor->setPlaceholderText(placeholder);
    m_editor->setAccessibleName(placeholder);
    m_editor->viewport()->installEventFilter(this);
    // Quiet: small and dimmed, a fact to know before sending.
    m_quotaLine->setTextFormat(Qt::PlainText);
    m_quotaLine->setWordWrap(true);
    m_quotaLine->setForegroundRole(Palette::secondaryRole);
    QFont small = m_quotaLine->font();
    small.setPixelSize(InputStyle::calloutPixelSize);
    m_quotaLine->setFont(small);
    m_quotaLine->hide();

    auto *stack = new QVBoxLayout(this);
    stack->setContentsMargins(
        InputStyle::paddingX, InputStyle::paddingY, InputStyle::paddingX, InputStyle::paddingY);
    stack->setSpacing(InputStyle::rowSpacing);
    stack->addWidget(m_quotaLine);
    stack->addWidget(m_notice);
    stack->addWidget(m_strip);
    stack->addLayout(makeInputRow());

    setAcceptDrops(true);
    // As tall as its rows at its width: a wrapped notice makes it taller.
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    bindToController();
}

QLayout *InputBar::makeInputRow()
{
    auto *row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(InputStyle::inputRowSpacing);
    row->addWidget(m_editor, 1, Qt::AlignBottom);
    row->addWidget(m_send, 0, Qt::AlignBottom);
    row->addWidget(m_stop, 0, Qt::AlignBottom);
    return row;
}

void InputBar::bindToController()
{
    connect(m_editor, &GrowingTextView::textEdited, &m_vm, &ChatViewModel::setDraft);
    connect(m_editor, &SendTextView::sendRequested, &m_vm, &ChatViewModel::send);
    connect(m_editor, &SendTextView::imagesPasted, m_images, &ImageLoader::load);
    connect(m_images, &ImageLoader::loaded, this, &InputBar::attachAll);
    connect(m_send, &SymbolButton::clicked, &m_vm, &ChatViewModel::send);
    connect(m_stop, &SymbolButton::clicked, &m_vm, &ChatViewModel::stop);
    connect(m_notice, &NoticeRow::switchRequested, &m_vm, &ChatViewModel::switchToVisionModel);
    connect(m_strip, &AttachmentStrip::removeRequested, &m_vm, &ChatViewModel::removeAttachment);

    connect(&m_vm, &ChatViewModel::draftChanged, this, &InputBar::syncDraft);
    connect(&m_vm, &ChatViewModel::isStreamingChanged, this, &InputBar::syncButtons);
    connect(&m_vm, &ChatViewModel::attachmentsChanged, this, [this] {
        m_strip->setAttachments(m_vm.attachments());
        syncButtons();
    });
    connect(&m_vm, &ChatViewModel::imageNoticeChanged, this,
        [this] { m_notice->showNotice(m_vm.imageNotice()); });
    connect(&m_vm, &ChatViewModel::focusTokenChanged, this,
        [this] { m_editor->setFocusToken(m_vm.focusToken()); });

    m_editor->setFocusToken(m_vm.focusToken());
    m_notice->showNotice(m_vm.imageNotice());
    m_strip->setAttachments(m_vm.attachments());
    syncDraft();
}

void InputBar::setQuota(FreeQuota *quota)
{
    if (m_quota)
        disconnect(m_quota, nullptr, this, nullptr);
    m_quota = quota;
    if (quota)
        connect(quota, &FreeQuota::changed, this, &InputBar::syncQuota);
    syncQuota();
}

void InputBar::syncQuota()
{
    const std::optional<QString> line = m_quota ? m_quota->warning() : std::nullopt;
    m_quotaLine->setText(line.value_or(QString()));
    m_quotaLine->setAccessibleName(line.value_or(QString()));
    m_quotaLine->setVisible(line.has_value());
}

int InputBar::pendingDrops() const
{
    return m_images->pending();
}

void InputBar::syncDraft()
{
    m_editor->setText(m_vm.draft());
    syncButtons();
}

void InputBar::syncButtons()
{
    const bool streaming = m_vm.isStreaming();
    m_stop->setVisible(streaming);
    m_send->setVisible(!streaming);
    m_send->setEnabled(m_vm.hasSomethingToSend());
}

void InputBar::attachAll(const QList<QImage> &images)
{
    for (const QImage &image : images)
        m_vm.attach(image);
}

void InputBar::setDropping(bool dropping)
{
    if (dropping == m_dropping)
        return;
    m_dropping = dropping;
    update();
}

void InputBar::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal border = m_dropping ? 2 : 1;
    const QColor borderColour = m_dropping ? Palette::accent(palette()) : Palette::separator(palette());
    const QRectF box = QRectF(rect()).adjusted(border / 2, border / 2, -border / 2, -border / 2);
    painter.setPen(QPen(borderColour, border));
    painter.setBrush(palette().color(QPalette::Base));
    painter.drawRoundedRect(box, InputStyle::cornerRadius, InputStyle::cornerRadius);
}

void InputBar::dragEnterEvent(QDragEnterEvent *event)
{
    if (!PasteboardImages::mayHoldImages(*event->mimeData())) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    setDropping(true);
}

void InputBar::dragMoveEvent(QDragMoveEvent *event)
{
    if (m_dropping)
        event->acceptProposedAction();
    else
        event->ignore();
}

void InputBar::dragLeaveEvent(QDragLeaveEvent *)
{
    setDropping(false);
}

void InputBar::dropEvent(QDropEvent *event)
{
    setDropping(false);
    if (!PasteboardImages::mayHoldImages(*event->mimeData())) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    m_images->load(PasteboardImages::ofDrop(*event->mimeData()));
}

// Drags of files and images over the editor belong to the box; the editor
// keeps drags of text.
bool InputBar::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_editor->viewport())
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::DragEnter: {
        auto *enter = static_cast<QDragEnterEvent *>(event);
        if (!PasteboardImages::mayHoldImages(*enter->mimeData()))
            return false;
        dragEnterEvent(enter);
        return true;
    }
    case QEvent::DragMove:
        if (!m_dropping)
            return false;
        dragMoveEvent(static_cast<QDragMoveEvent *>(event));
        return true;
    case QEvent::DragLeave:
        if (!m_dropping)
            return false;
        setDropping(false);
        return true;
    case QEvent::Drop:
        if (!m_dropping)
            return false;
        dropEvent(static_cast<QDropEvent *>(event));
        return true;
    default:
        return false;
    }
}
