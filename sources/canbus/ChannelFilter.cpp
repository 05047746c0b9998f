#include "canbus/ChannelFilter.h"

#include "CommandLine.h"
#include "storage/Logger.h"
#include "MessageGlobals.h"

namespace Can {

ChannelFilter::ChannelGroup ChannelFilter::checkChannel(quint32 channel, bool *ok, bool *debug)
{
    ChannelGroup group = eChannel_Unknown;
    bool valid = true;
    bool isDebug = false;

    switch (channel) {
    case eChlid_TD_Alarm:
    case eChlid_DD_Alarm:
    case eChlid_DD_TD:
    case eChlid_TD_UI:
    case eChlid_UI_TD:
    case eChlid_TD_Sync:
    case eChlid_DD_Sync: // also eChlid_DD_UI
        group = eChannel_Listens;
        break;

    case eChlid_UI_Alarm:
    case eChlid_UI_Sync: // also eChlid_UI_DD
        group = eChannel_Outputs;
        break;

    case eChlid_TD_DD:
        group = eChannel_Ignores;
        break;

    // The test tool's channels, except those of the FP.
    case eOrvane_TD:
    case eTD_Orvane:
    case eOrvane_DD:
    case eDD_Orvane:
    case eOrvane_UI:
    case eUI_Orvane:
        if (gDisableOrvaneUnhandled) {
            group = eChannel_Ignores;
            valid = false;
            isDebug = true;
        } else {
            group = eChannel_Listens;
        }
        break;

    default:
        valid = false;
        break;
    }

    if (ok)
        *ok = valid;
    if (debug)
        *debug = isDebug;
    return group;
}

bool ChannelFilter::accept(quint32 channel, const QByteArray &payload)
{
    bool ok = false;
    bool debug = false;
    const ChannelGroup group = checkChannel(channel, &ok, &debug);

    if (debug || !ok) {
        if (!_counts.contains(channel) && _counts.size() >= _countsMax)
            _counts.clear(); // at worst a few channels get a first line again
        const quint64 count = ++_counts[channel];
        if (debug)
            log(QStringLiteral("Debug Channel"), channel, payload, count);
        if (!ok) {
            log(QStringLiteral("Unexpected Channel"), channel, payload, count);
            return false;
        }
    }
    return group == eChannel_Listens;
}

bool ChannelFilter::acceptFormat(const QCanBusFrame &frame)
{
    if (frame.frameType() == QCanBusFrame::DataFrame && !frame.hasExtendedFrameFormat())
        return true;
    QString kind = frame.frameType() == QCanBusFrame::RemoteRequestFrame ? QStringLiteral("remote request")
                   : frame.frameType() == QCanBusFrame::DataFrame        ? QStringLiteral("data")
                   : frame.frameType() == QCanBusFrame::ErrorFrame       ? QStringLiteral("error")
                                                                         : QStringLiteral("invalid");
    kind = frame.hasExtendedFrameFormat() ? QStringLiteral("Extended ") + kind : kind.at(0).toUpper() + kind.mid(1);
    log(QStringLiteral("Unexpected Frame Format\r\n%1 frame %2").arg(kind, frameText(frame.frameId(), frame.payload())),
        ++_otherFormats);
    return false;
}

QString ChannelFilter::frameText(quint32 channel, const QByteArray &payload)
{
    return QStringLiteral("%1 -- %2")
        .arg(QString::number(channel, 16).toUpper().rightJustified(eLenChannelDigits, QLatin1Char('0')),
             QString::fromLatin1(payload.toHex(' ')));
}

void ChannelFilter::log(const QString &title, quint32 channel, const QByteArray &payload, quint64 count) const
{
    log(title + QStringLiteral("\r\n") + frameText(channel, payload), count);
}

void ChannelFilter::log(QString line, quint64 count) const
{
    if (count % _logEvery != 1)
        return;
    if (count > 1)
        line += QStringLiteral(" (%1 frames)").arg(count);
    LOG_DEBUG(line);
}

} // namespace Can
