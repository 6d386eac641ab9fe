#include "console/SystemEventLog.h"

#include <QByteArray>

#ifdef ORV_HAVE_JOURNAL
#include <systemd/sd-journal.h>
#else
#include <syslog.h>
#endif

void SystemEventLog::report(const QString& text, std::uint16_t type, std::uint16_t category,
                            std::uint32_t id)
{
    // The result is not examined: an entry that cannot be written is lost.
    const QByteArray message = text.toLocal8Bit();
#ifdef ORV_HAVE_JOURNAL
    sd_journal_send("MESSAGE=%s", message.constData(), "PRIORITY=6", "EVENT_TYPE=%u",
                    unsigned(type), "EVENT_CATEGORY=%u", unsigned(category), "EVENT_ID=%u",
                    unsigned(id), "SYSLOG_IDENTIFIER=orvanite-console", nullptr);
#else
    syslog(LOG_INFO, "%s (type %u, category %u, id %u)", message.constData(), unsigned(type),
           unsigned(category), unsigned(id));
#endif
}
