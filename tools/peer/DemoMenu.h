#pragma once

#include <QString>

// The UI's hidden demo menu: its commands travel as a confirmation result
// whose first field is 99, the chosen command in the second.
class DemoMenu
{
public:
    static constexpr int kMarker = 99;

    // The command for a name ("treatment-end"); -1 for an unknown name.
    static int command(const QString &name);
    static QString knownNames();
    // Whether the service announces Standby on its way: every command but
    // the treatment stop leaves the state it is given in through Standby,
    // whose entry resets the simulation, but in Standby a command is taken
    // at once and only a reset to Standby enters it again.
    static bool passesStandby(int command, int mode);
};
