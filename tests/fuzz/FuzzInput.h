#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

// The fuzzer's bytes read as a stream of choices. Past the end every read
// gives zeros or nothing, so a target never has to check the length first.
class FuzzInput
{
public:
    FuzzInput(const uint8_t *data, size_t size)
        : _data(data)
        , _size(size)
    {
    }

    bool atEnd() const { return _at >= _size; }
    quint8 byte() { return atEnd() ? 0 : _data[_at++]; }
    quint16 u16() { return quint16(byte() | (byte() << 8)); }
    quint32 u32() { return quint32(u16()) | (quint32(u16()) << 16); }
    bool flag() { return byte() & 1; }
    // A choice among count (count > 0).
    int pick(int count) { return int(u16() % quint16(count)); }
    // Up to count bytes, fewer at the end.
    QByteArray bytes(int count);
    QByteArray rest() { return bytes(int(_size - qMin(_at, _size))); }

private:
    const uint8_t *_data;
    size_t _size;
    size_t _at = 0;
};

// Sets up what every target needs once: a Qt core application and a
// console that stays quiet (the fuzzer prints its own progress).
void fuzzSetUp(int *argc, char ***argv);

// Prints what a check found and aborts, which libFuzzer reports as a crash
// with the input kept, and the replay driver as a failed test.
[[noreturn]] void fuzzFail(const QString &what);

#define FUZZ_CHECK(condition, what)                                                                                    \
    do {                                                                                                               \
        if (!(condition))                                                                                              \
            fuzzFail(what);                                                                                            \
    } while (false)

// The entry points libFuzzer calls; the replay driver calls them too.
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
