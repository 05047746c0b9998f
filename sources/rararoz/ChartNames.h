#pragma once

#include <QLatin1String>

// The state and event names of the treatment chart (TalvoRarArozXMLStates.scxml),
// spelled once for the controller and its tests. The generated chart class
// knows them only as text: a misspelt name would not fail to compile, it would
// be a transition that never happens. The identifiers are the chart's own
// names, so a search finds both.
namespace Chart {

namespace State {
constexpr QLatin1String Standby("Standby");
constexpr QLatin1String Pre_Tx("Pre_Tx");
constexpr QLatin1String Blood_Prime("Blood_Prime");
constexpr QLatin1String Treatment("Treatment");
constexpr QLatin1String Treatment_End("Treatment_End");
constexpr QLatin1String Treatment_Pause("Treatment_Pause");
constexpr QLatin1String Treatment_Rinseback("Treatment_Rinseback");
constexpr QLatin1String Treatment_Recirculate("Treatment_Recirculate");
constexpr QLatin1String Post_Tx("Post_Tx");
} // namespace State

namespace Event {
// Every state's tick: taken, it changes nothing.
constexpr QLatin1String TimeoutEvent("TimeoutEvent");
// From any state, on the demo menu's request.
constexpr QLatin1String T_Back_2_SB("T_Back_2_SB");
constexpr QLatin1String T_SB_2_Pretx("T_SB_2_Pretx");
constexpr QLatin1String T_SB_2_BP("T_SB_2_BP");
constexpr QLatin1String T_SB_2_Tx("T_SB_2_Tx");
constexpr QLatin1String T_SB_2_TE("T_SB_2_TE");
constexpr QLatin1String T_SB_2_RB("T_SB_2_RB");
constexpr QLatin1String T_SB_2_RC("T_SB_2_RC");
constexpr QLatin1String T_SB_2_Posttx("T_SB_2_Posttx");
// The treatment's own course.
constexpr QLatin1String T_Pretx_2_BP("T_Pretx_2_BP");
constexpr QLatin1String T_BP_2_Tx("T_BP_2_Tx");
constexpr QLatin1String T_Tx_2_TE("T_Tx_2_TE");
constexpr QLatin1String T_Tx_2_TP("T_Tx_2_TP");
constexpr QLatin1String T_TE_2_RB("T_TE_2_RB");
constexpr QLatin1String T_TP_2_Tx("T_TP_2_Tx");
constexpr QLatin1String T_TP_2_TE("T_TP_2_TE");
constexpr QLatin1String T_TP_2_RB("T_TP_2_RB");
constexpr QLatin1String T_RB_2_RC("T_RB_2_RC");
constexpr QLatin1String T_RB_2_Posttx("T_RB_2_Posttx");
constexpr QLatin1String T_RC_2_BP("T_RC_2_BP");
constexpr QLatin1String T_RC_2_Posttx("T_RC_2_Posttx");
} // namespace Event

} // namespace Chart
