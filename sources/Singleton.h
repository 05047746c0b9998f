#pragma once

// The one process-wide instance pattern shared by every service: created on
// the first call of I() (thread-safe), destroyed at process exit, never copied.
#define RARAROZ_SINGLETON_INSTANCE(vCLASS)                                                                             \
public:                                                                                                                \
    static vCLASS &I()                                                                                                 \
    {                                                                                                                  \
        static vCLASS instance;                                                                                        \
        return instance;                                                                                               \
    }                                                                                                                  \
                                                                                                                       \
private:                                                                                                               \
    vCLASS(const vCLASS &) = delete;                                                                                   \
    vCLASS &operator=(const vCLASS &) = delete;

#define RARAROZ_SINGLETON(vCLASS)                                                                                      \
    RARAROZ_SINGLETON_INSTANCE(vCLASS)                                                                                 \
    explicit vCLASS(QObject *parent = nullptr);

// The same for a service a test builds fresh instances of, one per case,
// beside the process's one.
#define RARAROZ_SINGLETON_TESTABLE(vCLASS)                                                                             \
    RARAROZ_SINGLETON_INSTANCE(vCLASS)                                                                                 \
                                                                                                                       \
public:                                                                                                                \
    explicit vCLASS(QObject *parent = nullptr);                                                                        \
                                                                                                                       \
private:
