#include "core/conversation/Attachments.h"

#include "core/images/ImageTools.h"

bool Attachments::add(const QImage &image)
{
    if (m_urls.size() >= maxCount)
        return false;
    const std::optional<QString> url = ImageTools::dataURL(image);
    if (!url)
        return false;
    set(m_urls + QStringList{ *url });
    return true;
}

bool Attachments::removeAt(int index)
{
    if (index < 0 || index >= m_urls.size())
        return false;
    QStringList remaining = m_urls;
    remaining.removeAt(index);
    set(remaining);
    return true;
}

void Attachments::clear()
{
    set({});
}

void Attachments::set(const QStringList &urls)
{
    if (urls == m_urls)
        return;
    m_urls = urls;
    Q_EMIT changed();
}
