#include "peer/ChannelNames.h"

#include "MessageGlobals.h"

QString ChannelNames::route(quint32 channel)
{
    using namespace Can;
    switch (channel) {
    case eChlid_TD_Alarm:
        return QStringLiteral("TD->all");
    case eChlid_DD_Alarm:
        return QStringLiteral("DD->all");
    case eChlid_FP_Alarm:
        return QStringLiteral("FP->all");
    case eChlid_UI_Alarm:
        return QStringLiteral("UI->all");
    case eChlid_TD_DD:
        return QStringLiteral("TD->DD");
    case eChlid_DD_TD:
        return QStringLiteral("DD->TD");
    case eChlid_FP_DD:
        return QStringLiteral("FP->DD");
    case eChlid_DD_FP:
        return QStringLiteral("DD->FP");
    case eChlid_TD_UI:
        return QStringLiteral("TD->UI");
    case eChlid_UI_TD:
        return QStringLiteral("UI->TD");
    case eChlid_TD_Sync:
        return QStringLiteral("TD->all");
    case eChlid_DD_Sync:
        return QStringLiteral("DD->all");
    case eChlid_FP_Sync:
        return QStringLiteral("FP->all");
    case eChlid_UI_Sync:
        return QStringLiteral("UI->all");
    case eOrvane_TD:
        return QStringLiteral("OV->TD");
    case eTD_Orvane:
        return QStringLiteral("TD->OV");
    case eOrvane_DD:
        return QStringLiteral("OV->DD");
    case eDD_Orvane:
        return QStringLiteral("DD->OV");
    case eOrvane_FP:
        return QStringLiteral("OV->FP");
    case eFP_Orvane:
        return QStringLiteral("FP->OV");
    case eOrvane_UI:
        return QStringLiteral("OV->UI");
    case eUI_Orvane:
        return QStringLiteral("UI->OV");
    default:
        break;
    }
    return QStringLiteral("?->?");
}
