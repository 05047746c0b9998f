#pragma once

#include <QFutureWatcher>
#include <QObject>
#include <QVariantList>

#include "ApplicationPost.h"
#include "MessageGlobals.h"
#include "Singleton.h"

class QThread;

// The application hub: routes action lists between the CAN stack and the
// simulator, runs the self test and then the configuration load, and in test
// mode sends a fake message on each main-timer tick.
class ApplicationController : public QObject
{
    Q_OBJECT
    RARAROZ_SINGLETON(ApplicationController)

public:
    bool init();
    bool init(QThread &thread);
    void startPOST();
    void initSettings();
    int settingsError() const { return _settingsError; }

    // The fake payload builders of test mode; each appends one byte array.
    void createFakeSequencedLongMessage(QVariantList &list, int length);
    void createFakeSeqAtBeginLongMessage(QVariantList &list, int length);
    QVariantList keepAliveList();

signals:
    void didActionReceive(const QVariantList &list);
    void didActionTransmit(const QVariantList &list);
    void didFailedTransmit(Sequence sequence);
    void didExport();
    void didExportStat(quint32 index, const QString &fileName, quint8 percent);
    void didSettingsInit();
    void didSettingsDone();
    void didPOSTPass(bool passed);
    void didKeepAliveBegin();
    void didQuitApplication();
    void didUnhandledMsgAppController(const QVariantList &list);
    void didstartPOST();

public slots:
    void quit();
    void doUnhandledMsgAppController(const QVariantList &list);
    void onMainTimerTimeout();
    void onActionReceive(const QVariantList &list);
    void onActionTransmit(const QVariantList &list);
    void onExport();
    void onExportStat(quint32 index, const QString &fileName, quint8 percent);
    void onFailedTransmit(Sequence sequence);
    void onSettingsUpdate();
    void onPOSTDone(bool passed);
    void onQuitApplication();
    void onLogIOFail();
    void onstartPOST();

private:
    void initThread(QThread &thread);
    void quitThread();
    void keepAlive();

    QThread *_thread = nullptr;
    bool _init = false;
    QFutureWatcher<int> _settingsWatcher;
    int _settingsError = 0;
    ApplicationPost _post;
    bool _postConnected = false;
    quint16 _fakeSequencedCounter = 0;
    quint32 _fakeSeqAtBeginCounter = 0;
};
