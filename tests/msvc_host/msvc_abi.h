// The few classes of Microsoft's C++ library that this host uses, declared
// with the layout and the run-time helpers of that library, since no C++
// library for its ABI is at hand. Built with clang in the Microsoft ABI, they
// behave as a host's own would: the exception classes keep their text in a
// {text, free flag} pair managed by the runtime's helpers, and type_info
// compares and names types through the runtime.
#pragma once

#include <stddef.h>

extern "C" {
struct __std_exception_data {
    const char* _What;
    bool _DoFree;
};
void __cdecl __std_exception_copy(const __std_exception_data* from, __std_exception_data* to);
void __cdecl __std_exception_destroy(__std_exception_data* data);

// A lock-free list head, updated with 16-byte compare-and-swap.
struct alignas(16) __type_info_node {
    void* _Header;
    void* _Next;
};
struct __std_type_info_data {
    const char* _UndecoratedName;
    const char _DecoratedName[1];
};
int __cdecl __std_type_info_compare(const __std_type_info_data* left, const __std_type_info_data* right);
const char* __cdecl __std_type_info_name(__std_type_info_data* data, __type_info_node* root);
}

// The names that type_info::name() makes are kept on this list.
inline __type_info_node typeInfoNames{};

class type_info {
public:
    type_info(const type_info&) = delete;
    type_info& operator=(const type_info&) = delete;
    bool operator==(const type_info& other) const noexcept { return __std_type_info_compare(&data, &other.data) == 0; }
    const char* name() const noexcept { return __std_type_info_name(&data, &typeInfoNames); }
    const char* raw_name() const noexcept { return data._DecoratedName; }
    virtual ~type_info() noexcept;

private:
    mutable __std_type_info_data data;
};

namespace std {
using ::type_info;

class exception {
public:
    exception() noexcept : data() {}
    explicit exception(const char* message) noexcept : data() {
        const __std_exception_data init = {message, true};
        __std_exception_copy(&init, &data);
    }
    exception(const char* message, int) noexcept : data() { data._What = message; }
    exception(const exception& other) noexcept : data() { __std_exception_copy(&other.data, &data); }
    exception& operator=(const exception& other) noexcept {
        if (this != &other) {
            __std_exception_destroy(&data);
            __std_exception_copy(&other.data, &data);
        }
        return *this;
    }
    virtual ~exception() noexcept { __std_exception_destroy(&data); }
    virtual const char* what() const { return data._What ? data._What : "Unknown exception"; }

private:
    __std_exception_data data;
};

class bad_alloc : public exception {
public:
    bad_alloc() noexcept : exception("bad allocation", 1) {}
};
}  // namespace std

// What a host writes to catch the library's refusal by its own type.
class VelmoraException : public std::exception {};
