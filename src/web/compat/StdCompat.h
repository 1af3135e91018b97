// What this C++20 code takes from the standard library and Debian's
// Emscripten (its libc++ 13) lacks: std::bit_cast, std::atomic_ref (loads and
// stores, over the compiler's atomic built-ins) and std::from_chars for
// floating point. Force-included in the browser build only; each piece steps
// aside where the library has it.
#pragma once

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <version>

namespace std {

#ifndef __cpp_lib_bit_cast
template <class To, class From>
constexpr To bit_cast(const From& from) noexcept {
    return __builtin_bit_cast(To, from);
}
#endif

#ifndef __cpp_lib_atomic_ref
template <class T>
class atomic_ref {
public:
    static constexpr bool is_always_lock_free = __atomic_always_lock_free(sizeof(T), 0);
    explicit atomic_ref(T& object) noexcept : object_(&object) {}
    T load(memory_order order = memory_order_seq_cst) const noexcept {
        T value;
        __atomic_load(object_, &value, static_cast<int>(order));
        return value;
    }
    void store(T value, memory_order order = memory_order_seq_cst) const noexcept {
        __atomic_store(object_, &value, static_cast<int>(order));
    }

private:
    T* object_;
};
#endif

#if !defined(__cpp_lib_to_chars)
namespace veltrosa_compat {
// from_chars' general format: an optional '-', digits with a point and an
// exponent, or inf / nan; never a '+', spaces or hexadecimal.
template <class T>
from_chars_result parse(const char* first, const char* last, T& value) {
    char text[128];
    std::size_t n = 0;
    const char* p = first;
    auto is = [](char c, const char* set) { return c != '\0' && std::strchr(set, c) != nullptr; };
    if (p != last && *p == '-')
        text[n++] = *p++;
    const bool word = p != last && is(*p, "iInN");
    while (p != last && n + 1 < sizeof text &&
           (word ? is(*p, "iInNfFtTyYaA") : (is(*p, "0123456789.eE") || (n > 0 && is(*p, "+-") && is(text[n - 1], "eE")))))
        text[n++] = *p++;
    text[n] = '\0';
    char* end = nullptr;
    errno = 0;
    const double parsed = std::strtod(text, &end);
    if (end == text)
        return {first, errc::invalid_argument};
    const auto used = first + (end - text);
    if (errno == ERANGE)
        return {used, errc::result_out_of_range};
    value = static_cast<T>(parsed);
    return {used, errc{}};
}
}  // namespace veltrosa_compat
inline from_chars_result from_chars(const char* first, const char* last, float& value) {
    return veltrosa_compat::parse(first, last, value);
}
inline from_chars_result from_chars(const char* first, const char* last, double& value) {
    return veltrosa_compat::parse(first, last, value);
}
#endif

}  // namespace std
