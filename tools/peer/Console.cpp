#include "peer/Console.h"

#include <cstdio>

namespace {
void write(std::FILE *stream, const QString &text, bool newline)
{
    QByteArray bytes = text.toUtf8();
    if (newline)
        bytes.append('\n');
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}
} // namespace

void Console::out(const QString &line)
{
    write(stdout, line, true);
}

void Console::err(const QString &line)
{
    write(stderr, line, true);
}

void Console::outPart(const QString &text)
{
    write(stdout, text, false);
}
