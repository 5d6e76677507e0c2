// Binary layout of the interfaces that cross the host boundary.
//
// The hosts this plug-in serves on Windows are built with the Microsoft
// compiler. Their vtables start with a single "scalar deleting destructor"
// slot that takes a flags word (bit 0: free the memory after destruction),
// followed by the operations in declaration order. GCC and mingw-w64 use the
// Itanium C++ ABI, where a virtual destructor takes two slots. So no interface
// here declares a C++ destructor: slot 0 is the explicit operation
// `DeletingDestructor(flags)`, and every implementation gets it from
// `KwObjectImpl`, which destroys the most-derived object through a virtual
// destructor that the implementation classes add *after* the interface slots.
//
// Rules for interfaces in this folder:
//   * single inheritance only, from `IKwObject` or from nothing;
//   * no overloaded virtual names (the Microsoft compiler groups overloads);
//   * no class or struct returned by value (the Microsoft compiler returns
//     them through a hidden pointer for member functions);
//   * only fixed-size integer types, bool, double, pointers and KwChar texts.
#pragma once

#include <cstdint>
#include <memory>

#include "support/KwTypes.h"

#if defined(_WIN32)
#define KW_EXPORT extern "C" __declspec(dllexport)
#else
#define KW_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// Flag bit of DeletingDestructor: release the memory after destruction.
constexpr uint32_t kKwDeleteMemory = 1;

// An object that its owner destroys through slot 0.
class IKwObject {
public:
    virtual void DeletingDestructor(uint32_t flags) = 0;

protected:
    ~IKwObject() = default;
};

// Implementation helper: slot 0 for a concrete class. Classes that derive from
// an implementation (e.g. a reader wrapper over a base reader) override the
// virtual destructor as usual; slot 0 always reaches the most-derived one.
template <class Interface>
class KwObjectImpl : public Interface {
public:
    void DeletingDestructor(uint32_t flags) override {
        if (flags & kKwDeleteMemory)
            delete this;
        else
            this->~KwObjectImpl();
    }
    virtual ~KwObjectImpl() = default;
};

// Destroys an object owned through an interface pointer (slot 0 with flags 1).
template <class T>
inline void KwDestroy(T* object) {
    if (object) object->DeletingDestructor(kKwDeleteMemory);
}

struct KwDestroyer {
    template <class T>
    void operator()(T* object) const {
        KwDestroy(object);
    }
};

// Owning pointer to an object reached through an interface.
template <class T>
using KwPtr = std::unique_ptr<T, KwDestroyer>;
