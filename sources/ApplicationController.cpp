#include "ApplicationController.h"

#include <QCoreApplication>
#include <QDebug>
#include <QtConcurrent>

#include "CommandLine.h"
#include "storage/Logger.h"
#include "MainTimer.h"
#include "canbus/MessageDispatcher.h"
#include "storage/Settings.h"
#include "Threads.h"
#include "utility/types.h"

namespace {
// Fake test messages go out as a no-op identifier on the TD broadcast channel,
// so a UI that sees them ignores them.
constexpr int kFakeMessageId = Can::ID_NONE;
constexpr int kFakeMessageChannel = Can::eChlid_TD_Sync;
constexpr int kFakeBlocks = 13;
} // namespace

ApplicationController::ApplicationController(QObject *parent)
    : QObject(parent)
    , _settingsWatcher(this)
    , _post(this)
{
}

bool ApplicationController::init()
{
    if (_init)
        return false;
    _init = true;
    connect(&MainTimer::I(), &MainTimer::didTimeout, this, &ApplicationController::onMainTimerTimeout);
    connect(&Can::MessageDispatcher::I(), &Can::MessageDispatcher::didFailedTransmit, this,
            &ApplicationController::onFailedTransmit);
    connect(&Storage::Logger::I(), &Storage::Logger::didExportLogs, this, &ApplicationController::onExport);
    connect(&Storage::Logger::I(), &Storage::Logger::didExportStat, this, &ApplicationController::onExportStat);
    connect(&Storage::Logger::I(), &Storage::Logger::didLogIOFail, this, &ApplicationController::onLogIOFail);
    connect(&_post, &ApplicationPost::didDone, this, &ApplicationController::onPOSTDone);
    connect(&_settingsWatcher, &QFutureWatcher<int>::finished, this, &ApplicationController::onSettingsUpdate);
    connect(&Can::MessageDispatcher::I(), &Can::MessageDispatcher::didUnhandledMsgDispatcher, this,
            &ApplicationController::doUnhandledMsgAppController);
    LOG_DEBUG(QStringLiteral("%1 Initialized").arg(QString::fromLatin1(metaObject()->className())));
    return true;
}

bool ApplicationController::init(QThread &thread)
{
    if (!init())
        return false;
    initThread(thread);
    return true;
}

void ApplicationController::initThread(QThread &thread)
{
    Threads::initThread(*this, thread, _thread);
}

void ApplicationController::quit()
{
    quitThread();
}

void ApplicationController::quitThread()
{
    Threads::returnToMainThread(*this, _thread);
}

void ApplicationController::startPOST()
{
    if (!_postConnected) {
        _postConnected = true;
        connect(this, &ApplicationController::didstartPOST, this, &ApplicationController::onstartPOST);
    }
    emit didstartPOST();
}

void ApplicationController::onstartPOST()
{
    LOG_DEBUG(QStringLiteral("ApplicationPost Start"));
    _post.start();
}

void ApplicationController::onPOSTDone(bool /*passed*/)
{
    // A failed self test is treated like a pass: the configuration still loads.
    LOG_DEBUG(QStringLiteral("ApplicationPOST Done"));
    qDebug().noquote() << "POST DONE";
    initSettings();
}

void ApplicationController::initSettings()
{
    _settingsWatcher.setFuture(QtConcurrent::run(&Storage::Settings::readConfigurations));
}

void ApplicationController::onSettingsUpdate()
{
    _settingsError = _settingsWatcher.result();
    emit didSettingsDone();
}

void ApplicationController::doUnhandledMsgAppController(const QVariantList &list)
{
    emit didUnhandledMsgAppController(list);
}

void ApplicationController::onActionTransmit(const QVariantList &list)
{
    emit didActionTransmit(list);
}

void ApplicationController::onActionReceive(const QVariantList &list)
{
    emit didActionReceive(list);
}

void ApplicationController::onFailedTransmit(Sequence sequence)
{
    emit didFailedTransmit(sequence);
}

void ApplicationController::onExport()
{
    emit didExport();
}

void ApplicationController::onExportStat(quint32 index, const QString &fileName, quint8 percent)
{
    emit didExportStat(index, fileName, percent);
}

void ApplicationController::onQuitApplication()
{
    emit didQuitApplication();
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

void ApplicationController::onLogIOFail() {}

void ApplicationController::onMainTimerTimeout()
{
    keepAlive();
}

QVariantList ApplicationController::keepAliveList()
{
    QVariantList list{kFakeMessageId, kFakeMessageChannel};
    if (gFakeData.isEmpty())
        list.append(0);
    else if (gFakeSeqAtBegin)
        createFakeSeqAtBeginLongMessage(list, gFakeData.length());
    else
        createFakeSequencedLongMessage(list, gFakeData.length());
    return list;
}

void ApplicationController::keepAlive()
{
    onActionTransmit(keepAliveList());
}

namespace {
bool isDefaultFakeData(int length)
{
    return length == 1 && gFakeData.size() == 1 && gFakeData.at(0) == '\0';
}

template <typename T> void appendLowFirst(QByteArray &payload, T value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        payload.append(char(quint8(quint64(value) >> (8 * i))));
}
} // namespace

// The 96-byte counter payload of the default fake message: 13 blocks, the
// counter written low byte first and stepped once per block.
template <typename Counter, typename Block> QByteArray counterPayload(Counter &counter, Block writeBlock)
{
    QByteArray payload;
    payload.reserve(96);
    for (int block = 0; block < kFakeBlocks; ++block) {
        writeBlock(payload, block, counter);
        Types::safeIncrement(counter, 1);
    }
    return payload;
}

void ApplicationController::createFakeSequencedLongMessage(QVariantList &list, int length)
{
    if (!isDefaultFakeData(length)) {
        list.append(gFakeData);
        return;
    }
    list.append(counterPayload(_fakeSequencedCounter, [](QByteArray &payload, int block, quint16 counter) {
        payload.append(block == 0 ? 0 : block == kFakeBlocks - 1 ? 4 : 6, '\0');
        appendLowFirst(payload, counter, 2);
    }));
}

void ApplicationController::createFakeSeqAtBeginLongMessage(QVariantList &list, int length)
{
    if (!isDefaultFakeData(length)) {
        list.append(gFakeData);
        return;
    }
    list.append(counterPayload(_fakeSeqAtBeginCounter, [](QByteArray &payload, int block, quint32 counter) {
        appendLowFirst(payload, counter, block == 0 ? 2 : 4);
        if (block != 0)
            payload.append(block == kFakeBlocks - 1 ? 2 : 4, '\0');
    }));
}
