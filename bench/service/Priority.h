#pragma once

#include <QtGlobal>

// Scheduling priority: this program runs ahead of the machine's other work
// so that its pace and its clock readings stay true on a busy machine, while
// the service it starts competes like any other process.
namespace Priority {

// Raises this process's priority; false where that is not allowed.
bool raiseOwn();
// Puts every thread of the process back to the normal priority (children
// inherit a raised one); false when some thread could not be changed.
bool resetNormal(qint64 pid);

} // namespace Priority
