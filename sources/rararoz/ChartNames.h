#pragma once

#include <QLatin1String>

// The state and event names of the treatment chart (TalvoRarArozXMLStates.scxml),
// spelled once for the controller and its tests. The generated chart class
// knows them only as text: a misspelt name would not fail to compile, it would
// be a transition that never happens. The identifiers are the chart's own
// names, so a search finds both.
namespace Chart {

// QLatin1String(const char *) counts with strlen, which only GCC takes as a
// constant expression; the array's own length serves every compiler.
template <int N> constexpr QLatin1String name(const char (&text)[N])
{
    return QLatin1String(text, N - 1);
}

namespace State {
constexpr QLatin1String Standby = name("Standby");
constexpr QLatin1String Pre_Tx = name("Pre_Tx");
constexpr QLatin1String Blood_Prime = name("Blood_Prime");
constexpr QLatin1String Treatment = name("Treatment");
constexpr QLatin1String Treatment_End = name("Treatment_End");
constexpr QLatin1String Treatment_Pause = name("Treatment_Pause");
constexpr QLatin1String Treatment_Rinseback = name("Treatment_Rinseback");
constexpr QLatin1String Treatment_Recirculate = name("Treatment_Recirculate");
constexpr QLatin1String Post_Tx = name("Post_Tx");
} // namespace State

namespace Event {
// Every state's tick: taken, it changes nothing.
constexpr QLatin1String TimeoutEvent = name("TimeoutEvent");
// From any state, on the demo menu's request.
constexpr QLatin1String T_Back_2_SB = name("T_Back_2_SB");
constexpr QLatin1String T_SB_2_Pretx = name("T_SB_2_Pretx");
constexpr QLatin1String T_SB_2_BP = name("T_SB_2_BP");
constexpr QLatin1String T_SB_2_Tx = name("T_SB_2_Tx");
constexpr QLatin1String T_SB_2_TE = name("T_SB_2_TE");
constexpr QLatin1String T_SB_2_RB = name("T_SB_2_RB");
constexpr QLatin1String T_SB_2_RC = name("T_SB_2_RC");
constexpr QLatin1String T_SB_2_Posttx = name("T_SB_2_Posttx");
// The treatment's own course.
constexpr QLatin1String T_Pretx_2_BP = name("T_Pretx_2_BP");
constexpr QLatin1String T_BP_2_Tx = name("T_BP_2_Tx");
constexpr QLatin1String T_Tx_2_TE = name("T_Tx_2_TE");
constexpr QLatin1String T_Tx_2_TP = name("T_Tx_2_TP");
constexpr QLatin1String T_TE_2_RB = name("T_TE_2_RB");
constexpr QLatin1String T_TP_2_Tx = name("T_TP_2_Tx");
constexpr QLatin1String T_TP_2_TE = name("T_TP_2_TE");
constexpr QLatin1String T_TP_2_RB = name("T_TP_2_RB");
constexpr QLatin1String T_RB_2_RC = name("T_RB_2_RC");
constexpr QLatin1String T_RB_2_Posttx = name("T_RB_2_Posttx");
constexpr QLatin1String T_RC_2_BP = name("T_RC_2_BP");
constexpr QLatin1String T_RC_2_Posttx = name("T_RC_2_Posttx");
} // namespace Event

} // namespace Chart
