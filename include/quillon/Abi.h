// The destructor slot of the host-facing interfaces, the one entry whose layout depends on the
// compiler that builds the host.
//
// Every interface in these headers starts with its destructor: slot 1 in the numbered comments,
// then the other entries in the order written. How many vtable slots that destructor takes
// differs between C++ ABIs:
// - Linux (Itanium C++ ABI; GCC and Clang hosts): the ordinary virtual destructor, two slots
//   (complete-object destructor, then deleting destructor). Entry n of a comment sits in slot n.
// - Windows (hosts built with Microsoft's compiler): one slot, the scalar deleting destructor
//   `void* (unsigned flags)`; flag bit 0 asks to free the memory too. Entry n of a comment sits
//   in slot n - 1 (counting from 0). GCC would give a virtual destructor two slots there as
//   well, so the Windows build declares that slot as the function Microsoft's compiler calls,
//   and gives the interface its C++ virtual destructor after the last entry, where no host
//   looks. An interface that others extend (IIPCaptureDriver, IIPVideoCapture, IIPPTZApi,
//   IIPPTZDriver) cannot carry that tail without shifting its extensions' entries: it declares
//   the slot only, and its last extension supplies both.
//
// QUILLON_DESTRUCTOR(I)          first line of an interface that nothing extends
// QUILLON_BASE_DESTRUCTOR(I)     first line of an interface that others extend
// QUILLON_EXTENSION_DESTRUCTOR(I) first line of the last extension of such an interface
// QUILLON_DESTRUCTOR_TAIL(I)     last line of an interface with one of the first or the third
//
// DeleteThroughInterface(p) deletes as a host does: `delete p` on Linux, slot 0 with flag 1 on
// Windows (what Microsoft's compiler makes of `delete p`).
#pragma once

#if defined(_WIN32)

#define QUILLON_SCALAR_DELETING_DESTRUCTOR_BODY(Interface)       \
    {                                                            \
        if (flags & 1u)                                          \
            delete this;                                         \
        else                                                     \
            this->~Interface();                                  \
        return this;                                             \
    }
#define QUILLON_DESTRUCTOR(Interface) \
public:                               \
    virtual void* ScalarDeletingDestructor(unsigned flags) QUILLON_SCALAR_DELETING_DESTRUCTOR_BODY(Interface)
#define QUILLON_BASE_DESTRUCTOR(Interface)                          \
public:                                                             \
    virtual void* ScalarDeletingDestructor(unsigned flags) = 0;     \
                                                                    \
protected:                                                          \
    ~Interface() = default;                                         \
                                                                    \
public:
#define QUILLON_EXTENSION_DESTRUCTOR(Interface) \
public:                                         \
    void* ScalarDeletingDestructor(unsigned flags) override QUILLON_SCALAR_DELETING_DESTRUCTOR_BODY(Interface)
#define QUILLON_DESTRUCTOR_TAIL(Interface) \
public:                                    \
    virtual ~Interface() = default;

namespace velmora::ipcapture {
template <typename Interface>
void DeleteThroughInterface(Interface* object) {
    if (object) object->ScalarDeletingDestructor(1u);
}
}  // namespace velmora::ipcapture

#else

#define QUILLON_DESTRUCTOR(Interface) \
public:                               \
    virtual ~Interface() = default;
#define QUILLON_BASE_DESTRUCTOR(Interface) QUILLON_DESTRUCTOR(Interface)
#define QUILLON_EXTENSION_DESTRUCTOR(Interface)
#define QUILLON_DESTRUCTOR_TAIL(Interface)

namespace velmora::ipcapture {
template <typename Interface>
void DeleteThroughInterface(Interface* object) {
    delete object;
}
}  // namespace velmora::ipcapture

#endif
