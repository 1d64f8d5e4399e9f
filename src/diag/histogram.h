#pragma once
// Histogram lines of the diagnostic dumps.

#include <map>
#include <ostream>
#include <type_traits>

// Key map that writes a value as it is: a char as its raw byte, a number in
// decimal.
template <typename T>
std::remove_const_t<T> histogramPassThrough(T value)
{
    return value;
}

// Key map for move-to-front ranks stored in char: the rank as a number 0..255.
inline unsigned mtfHistPassValue(char value)
{
    return static_cast<unsigned char>(value);
}

namespace histogramdetail {
// Keys of char data are ordered as signed bytes (0x80..0xFF before
// 0x00..0x7F) whatever the signedness of plain char on the platform, so the
// dump looks the same everywhere. Other element types order as themselves.
template <typename T> struct OrderKey { using type = T; };
template <> struct OrderKey<char> { using type = signed char; };
} // namespace histogramdetail

// Writes one line per distinct value among data[0..count): keyMap(value),
// " - ", its count, "     [", the number of elements with a smaller key,
// ", ", the number with a greater key, "]". Lines go in key order. Nothing
// is written for count 0.
template <typename T, typename F>
void histogram(std::ostream& os, T* data, unsigned count, F keyMap)
{
    using Value = std::remove_const_t<T>;
    using Key = typename histogramdetail::OrderKey<Value>::type;
    std::map<Key, unsigned> counts;
    for (unsigned i = 0; i < count; ++i) ++counts[static_cast<Key>(data[i])];

    unsigned before = 0;
    for (const auto& [key, n] : counts) {
        os << keyMap(static_cast<Value>(key)) << " - " << n << "     [" << before << ", "
           << count - before - n << "]" << std::endl;
        before += n;
    }
}

template <typename T>
void histogram(std::ostream& os, T* data, unsigned count)
{
    histogram(os, data, count, histogramPassThrough<T>);
}
