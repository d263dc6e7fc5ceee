// The few hooks of the C++ runtime that this program needs, defined here so that the linker
// does not bring in libstdc++'s general versions and all they drag along: the exception
// machinery, the unwinder, and the demangler behind the verbose terminate handler. They more
// than tripled the size of the exe. The program is built without exceptions: running out of
// memory, or reaching a state the code rules out, ends the process at once as a crash rather
// than carrying on with something half done.
#include <bits/functexcept.h> // libstdc++'s own declarations of the hooks below
#include <cstddef>
#include <cstdlib>
#include <new>

namespace {

[[noreturn]] void Crash() {
    __builtin_trap();
}

} // namespace

void* operator new(std::size_t size) {
    if (void* memory = std::malloc(size != 0 ? size : 1)) {
        return memory;
    }
    Crash();
}
void* operator new[](std::size_t size) {
    return ::operator new(size);
}
void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
void operator delete[](void* memory) noexcept {
    std::free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
    std::free(memory);
}

// What the standard containers call where they would throw.
namespace std {
void __throw_bad_alloc() {
    Crash();
}
void __throw_bad_array_new_length() {
    Crash();
}
void __throw_length_error(const char*) {
    Crash();
}
void __throw_logic_error(const char*) {
    Crash();
}
void __throw_out_of_range_fmt(const char*, ...) {
    Crash();
}
} // namespace std

// A pure virtual call, and std::terminate, which the library's verbose handler would spell out
// with its demangler.
extern "C" void __cxa_pure_virtual() {
    Crash();
}
namespace __gnu_cxx {
void __verbose_terminate_handler() {
    Crash();
}
} // namespace __gnu_cxx
