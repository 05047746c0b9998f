#include "Priority.h"

#include <QDir>
#include <QString>

#include <sys/resource.h>

namespace Priority {

namespace {
constexpr int kRaised = -10; // nice value
constexpr int kNormal = 0;
} // namespace

bool raiseOwn()
{
    return ::setpriority(PRIO_PROCESS, 0, kRaised) == 0;
}

bool resetNormal(qint64 pid)
{
    // On Linux each thread has a priority of its own.
    bool all = true;
    for (const QString &tid :
         QDir(QStringLiteral("/proc/%1/task").arg(pid)).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        all = ::setpriority(PRIO_PROCESS, id_t(tid.toLongLong()), kNormal) == 0 && all;
    return all;
}

} // namespace Priority
