#include "peer/DemoMenu.h"

#include <QStringList>

#include "peer/TreatmentStates.h"

namespace {

struct Command {
    const char *name;
    int command;
};

constexpr Command kCommands[] = {
    {"standby", 0},       {"pre-treatment", 1}, {"blood-prime", 2},   {"treatment", 3},      {"rinseback", 4},
    {"recirculation", 5}, {"stop", 6},          {"treatment-end", 7}, {"post-treatment", 8},
};
constexpr int kStandby = 0;
constexpr int kStop = 6;

} // namespace

int DemoMenu::command(const QString &name)
{
    for (const Command &c : kCommands)
        if (name == QLatin1String(c.name))
            return c.command;
    return -1;
}

QString DemoMenu::knownNames()
{
    QStringList names;
    for (const Command &c : kCommands)
        names << QLatin1String(c.name);
    return names.join(QStringLiteral(", "));
}

bool DemoMenu::passesStandby(int command, int mode)
{
    if (command == kStop)
        return false;
    return mode != TreatmentStates::kModeStandby || command == kStandby;
}
