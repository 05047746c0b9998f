#include "fuzz/FuzzInput.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

QByteArray FuzzInput::bytes(int count)
{
    const size_t left = _size - qMin(_at, _size);
    const size_t take = qMin(size_t(qMax(count, 0)), left);
    const QByteArray result(reinterpret_cast<const char *>(_data + _at), int(take));
    _at += take;
    return result;
}

void fuzzSetUp(int *argc, char ***argv)
{
    // Fuzz inputs are all garbage: the debug lines for them would drown the
    // fuzzer's output and cost most of its time. Warnings and worse stay.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
        if (type != QtDebugMsg && type != QtInfoMsg)
            std::fprintf(stderr, "%s\n", qPrintable(text));
    });
    static QCoreApplication application(*argc, *argv);
}

void fuzzFail(const QString &what)
{
    std::fprintf(stderr, "FUZZ CHECK FAILED: %s\n", qPrintable(what));
    std::fflush(stderr);
    std::abort();
}
