#include "utility/types.h"

#include <cstring>
#include <type_traits>

#include "storage/Logger.h"
#include "utility/format.h"

namespace Types {

namespace {

// Readable, compiler-independent names for the log line.
template <typename T> constexpr const char *typeName();
template <> constexpr const char *typeName<U08>()
{
    return "Types::U08";
}
template <> constexpr const char *typeName<S08>()
{
    return "Types::S08";
}
template <> constexpr const char *typeName<U16>()
{
    return "Types::U16";
}
template <> constexpr const char *typeName<S16>()
{
    return "Types::S16";
}
template <> constexpr const char *typeName<U32>()
{
    return "Types::U32";
}
template <> constexpr const char *typeName<S32>()
{
    return "Types::S32";
}
template <> constexpr const char *typeName<F32>()
{
    return "Types::F32";
}

template <typename V> V fromRaw(quint32 raw)
{
    V result;
    if constexpr (std::is_floating_point_v<V>) {
        static_assert(sizeof(V) == sizeof(quint32));
        std::memcpy(&result, &raw, sizeof result);
    } else {
        result = static_cast<V>(static_cast<std::make_unsigned_t<V>>(raw));
    }
    return result;
}

template <typename V> quint32 toRaw(V value)
{
    if constexpr (std::is_floating_point_v<V>) {
        static_assert(sizeof(V) == sizeof(quint32));
        quint32 raw;
        std::memcpy(&raw, &value, sizeof raw);
        return raw;
    } else {
        return static_cast<quint32>(static_cast<std::make_unsigned_t<V>>(value));
    }
}

} // namespace

template <typename T> bool getValue(const QByteArray &buffer, int &index, T &value, QString name)
{
    using V = decltype(value.value);
    constexpr int n = sizeof(V);
    // index is checked on its own first so that a negative or huge one can
    // neither pass the bound nor overflow index + n.
    if (index < 0 || index > buffer.size() - n) {
        // One multi-argument arg() so that text inside the name can never be
        // taken for a placeholder.
        LOG_DEBUG(QStringLiteral("Not enough data from position %1 to the length of %2 to get "
                                 "data of type '%3' in buffer %4 %5")
                      .arg(QString::number(index), QString::number(n), QLatin1String(typeName<T>()),
                           Format::toHexString(buffer),
                           name.isEmpty() ? QString() : QStringLiteral("for value ") + name));
        return false;
    }
    const auto *src = reinterpret_cast<const quint8 *>(buffer.constData()) + index;
    quint32 raw = 0;
    for (int i = 0; i < n; ++i)
        raw |= static_cast<quint32>(src[i]) << (8 * i);
    value.value = fromRaw<V>(raw);
    index += n;
    return true;
}

template <typename T> bool setValue(const T &value, QByteArray &buffer)
{
    using V = decltype(value.value);
    constexpr int n = sizeof(V);
    char bytes[n];
    const quint32 raw = toRaw<V>(value.value);
    for (int i = 0; i < n; ++i)
        bytes[i] = static_cast<char>(static_cast<quint8>(raw >> (8 * i)));
    buffer.append(bytes, n);
    return true;
}

template <typename T> T safeIncrement(T &value, quint8 step)
{
    static_assert(std::is_unsigned_v<T>, "counters wrap, so they must be unsigned");
    // Unsigned arithmetic wraps modulo 2^width; the cast brings a promoted
    // 16-bit sum back into range.
    value = static_cast<T>(value + static_cast<T>(step == 0 ? 1 : step));
    return value;
}

#define RARAROZ_TYPES_INSTANTIATE(vTYPE)                                                                               \
    template bool getValue<vTYPE>(const QByteArray &, int &, vTYPE &, QString);                                        \
    template bool setValue<vTYPE>(const vTYPE &, QByteArray &);
RARAROZ_TYPES_INSTANTIATE(U08)
RARAROZ_TYPES_INSTANTIATE(S08)
RARAROZ_TYPES_INSTANTIATE(U16)
RARAROZ_TYPES_INSTANTIATE(S16)
RARAROZ_TYPES_INSTANTIATE(U32)
RARAROZ_TYPES_INSTANTIATE(S32)
RARAROZ_TYPES_INSTANTIATE(F32)
#undef RARAROZ_TYPES_INSTANTIATE

template quint16 safeIncrement<quint16>(quint16 &, quint8);
template quint32 safeIncrement<quint32>(quint32 &, quint8);
template quint64 safeIncrement<quint64>(quint64 &, quint8);

} // namespace Types
