#include "ApplicationPost.h"

ApplicationPost::ApplicationPost(QObject *parent)
    : QObject(parent)
{
}

void ApplicationPost::start()
{
    _isDone = true;
    emit didDone(_isDone);
}
