// Image attachments and the check that the chat's model can see them.

#include "core/conversation/ChatViewModel.h"
#include "core/conversation/ImageTools.h"

void ChatViewModel::attach(const QImage &image)
{
    if (m_attachments.size() >= maxAttachments)
        return;
    const std::optional<QString> url = ImageTools::dataURL(image);
    if (!url)
        return;
    const Batch batch(*this);
    setAttachments(m_attachments + QStringList{ *url });
    setImageNotice(checkImageSupport());
}

void ChatViewModel::removeAttachment(int index)
{
    if (index < 0 || index >= m_attachments.size())
        return;
    const Batch batch(*this);
    QStringList remaining = m_attachments;
    remaining.removeAt(index);
    setAttachments(remaining);
    if (remaining.isEmpty())
        setImageNotice(std::nullopt);
}

void ChatViewModel::switchToVisionModel()
{
    const Batch batch(*this);
    if (m_imageNotice && m_imageNotice->switchTo)
        pin(m_imageNotice->switchTo->id);
    setImageNotice(std::nullopt);
}

std::optional<ImageNotice> ChatViewModel::checkImageSupport() const
{
    // Without a pin the ranker picks a model that sees images by itself.
    if (!m_chat.pinnedModel)
        return std::nullopt;
    const std::optional<ORModel> pinned = m_ranker.model(*m_chat.pinnedModel);
    if (!pinned || pinned->supportsImages)
        return std::nullopt;
    return ImageNotice{ ImageNotice::text, m_ranker.firstVisionModel() };
}
