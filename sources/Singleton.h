#pragma once

// The one process-wide instance pattern shared by every service: created on
// the first call of I() (thread-safe), destroyed at process exit, never copied.
#define RARAROZ_SINGLETON(vCLASS)                                                                  \
public:                                                                                            \
    static vCLASS &I()                                                                             \
    {                                                                                              \
        static vCLASS instance;                                                                    \
        return instance;                                                                           \
    }                                                                                              \
                                                                                                   \
private:                                                                                           \
    explicit vCLASS(QObject *parent = nullptr);                                                    \
    vCLASS(const vCLASS &) = delete;                                                               \
    vCLASS &operator=(const vCLASS &) = delete;
