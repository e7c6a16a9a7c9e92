#pragma once

#include <QPointer>
#include <QWidget>

class AttachmentStrip;
class ChatViewModel;
class FreeQuota;
class QLabel;
class GrowingTextView;
class ImageLoader;
class NoticeRow;
class SymbolButton;

// The box at the bottom of the conversation where the person types, pastes
// or drops images, sees the images waiting to be sent and the warning that
// the chat's model cannot see them, and sends or stops. Rows, top to
// bottom: the image notice (only while there is one), the attachments (only
// while there are some), and the editor beside the send or stop button.
// Everything it shows is the controller's state; the only state of its own
// is whether a drag with images hovers over it.
class InputBar : public QWidget
{
    Q_OBJECT
public:
    InputBar(ChatViewModel &vm, QWidget *parent);

    // Shows the quota's quiet line above the rows while it has one: few
    // free requests left today, or when they come back.
    void setQuota(FreeQuota *quota);
    QLabel *quotaLine() const { return m_quotaLine; }

    GrowingTextView *editor() const { return m_editor; }
    SymbolButton *sendButton() const { return m_send; }
    SymbolButton *stopButton() const { return m_stop; }
    NoticeRow *noticeRow() const { return m_notice; }
    AttachmentStrip *attachmentStrip() const { return m_strip; }

    // A drag with local files or image data hovers over the box.
    bool isDropping() const { return m_dropping; }
    // Pastes and drops whose images are still being read.
    int pendingDrops() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QLayout *makeInputRow();
    void bindToController();
    void syncDraft();
    void syncButtons();
    void syncQuota();
    void attachAll(const QList<QImage> &images);
    void setDropping(bool dropping);

    ChatViewModel &m_vm;
    QPointer<FreeQuota> m_quota;
    QLabel *m_quotaLine;
    NoticeRow *m_notice;
    AttachmentStrip *m_strip;
    GrowingTextView *m_editor;
    SymbolButton *m_send;
    SymbolButton *m_stop;
    ImageLoader *m_images;
    bool m_dropping = false;
};
