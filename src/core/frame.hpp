// The call frame every library function follows: a cleanup list on the
// stack, a status that every step stores, and one exit that unwinds the list
// (temporaries always, result parts only on failure) and returns the status.
//
//   int32_t cblob_thing_build(cblob_thing *out) {
//       cblob::Frame<2> f;
//       CBLOB_FRAME_REQUIRE(f, out);
//       uint8_t *table = nullptr;
//       CBLOB_FRAME_TRY(f, cblob::allocate(256, &table));
//       f.addMemory(&table, csys_cleanup_tempMemory);
//       CBLOB_FRAME_TRY(f, fill(table));
//       return f.exit();
//   }
#ifndef CBLOB_CORE_FRAME_HPP
#define CBLOB_CORE_FRAME_HPP

#include <cstdint>

#include "cblob/sys.h"
#include "core/require.hpp"

namespace cblob {

// Adapts a typed release function (a destruct or a free) to the untyped
// signature of a cleanup entry.
template <auto Release>
struct ReleaseThunk;
template <class T, int32_t (*Release)(T *)>
struct ReleaseThunk<Release> {
    static int32_t run(void *address) { return Release(static_cast<T *>(address)); }
};

template <int Capacity>
class Frame {
public:
    // The cleanup tag is taken when the first entry is registered: most
    // frames hold nothing and then cost no more than a status word.
    Frame() = default;
    Frame(const Frame &) = delete;
    Frame &operator=(const Frame &) = delete;
    // A frame left without exit() still releases what it holds, as a failure
    // would; every path of the library calls exit(), so this is a safety net.
    ~Frame() {
        if (count_ > 0) {
            if (!CBLOB_FAILED(status)) status = csys_err_assertFailed;
            csys_cleanupExecute_(list_, &count_, &status, tag_);
        }
    }

    // Stores a step's status; true when it is a failure.
    bool fails(int32_t stepStatus) {
        status = stepStatus;
        return CBLOB_FAILED(stepStatus);
    }

    // Registers the block held in *pointerVariable; returns the entry's id.
    template <class T>
    int32_t addMemory(T **pointerVariable, int32_t kind) {
        return add(reinterpret_cast<void *>(pointerVariable), kind, &ReleaseThunk<&csys_memory_free_internal>::run);
    }

    // Registers a constructed object released by Destruct(object).
    template <auto Destruct, class T>
    int32_t addObject(T *object, int32_t kind) {
        return add(static_cast<void *>(object), kind, &ReleaseThunk<Destruct>::run);
    }

    // Takes the newest entry off the list without running it: what it holds
    // now belongs elsewhere.
    void handOver(int32_t id) { csys_cleanup_doId_(list_, &count_, &status, id, 1); }

    // Takes the newest entry off the list and releases it now.
    void releaseNow(int32_t id) { csys_cleanup_doId_(list_, &count_, &status, id, 0); }

    // The single exit: unwinds the list and returns 0 or the failure.
    int32_t exit() {
        if (count_ > 0) csys_cleanupExecute_(list_, &count_, &status, tag_);
        return CBLOB_FAILED(status) ? status : 0;
    }

    int32_t status = 0;

private:
    int32_t add(void *address, int32_t kind, csys_cleanupRelease release) {
        if (count_ >= Capacity) {
            cstd_assert_(__LINE__);
            return -1;
        }
        if (count_ == 0 && nextId_ == 0) tag_ = csys_cleanup_getNextTag();
        csys_cleanupEntry &entry = list_[count_++];
        entry.id = nextId_++;
        entry.kind = kind;
        entry.address = address;
        entry.release = release;
        return entry.id;
    }

    csys_cleanupEntry list_[Capacity > 0 ? Capacity : 1];
    int32_t count_ = 0;
    int32_t nextId_ = 0;
    int32_t tag_ = 0;
};

// Typed front ends of the memory service.
template <class T>
inline int32_t allocate(int64_t bytes, T **pointer) {
    return csys_memory_alloc_internal(bytes, reinterpret_cast<void **>(pointer));
}
template <class T>
inline int32_t allocateClear(int64_t bytes, T **pointer) {
    return csys_memory_allocClear_internal(bytes, reinterpret_cast<void **>(pointer));
}
template <class T>
inline int32_t reallocate(int64_t bytes, T **pointer) {
    return csys_memory_realloc_internal(bytes, reinterpret_cast<void **>(pointer));
}
template <class T>
inline int32_t release(T **pointer) {
    return csys_memory_free_internal(reinterpret_cast<void **>(pointer));
}

}  // namespace cblob

// Runs one step; on failure leaves through the frame's exit.
#define CBLOB_FRAME_TRY(frame, expr)                      \
    do {                                                  \
        if ((frame).fails(expr)) return (frame).exit();   \
    } while (0)

// Fails with `code` through the frame's exit unless `cond` holds.
#define CBLOB_FRAME_CHECK(frame, cond, code)              \
    do {                                                  \
        if (!(cond)) {                                    \
            (frame).status = (code);                      \
            return (frame).exit();                        \
        }                                                 \
    } while (0)

// Reports a null required argument and leaves through the frame's exit.
#define CBLOB_FRAME_REQUIRE(frame, p)                     \
    do {                                                  \
        if (!(p)) {                                       \
            cstd_assert_(__LINE__);                       \
            (frame).status = csys_err_assertFailed;       \
            return (frame).exit();                        \
        }                                                 \
    } while (0)

#endif
