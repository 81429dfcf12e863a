#pragma once

// Data handed to another thread through Qt's event queues or WinPR's message
// queues. Both synchronise with futex-based locks, atomics and semaphores
// inside libraries built without ThreadSanitizer, which therefore cannot see
// that the receiver's reads follow the sender's writes; in a ThreadSanitizer
// build the two ends of each hand-over are announced to it. Elsewhere these
// compile to nothing.

#if defined(__SANITIZE_THREAD__)
#define ZENTU_HANDOVER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ZENTU_HANDOVER_TSAN 1
#endif
#endif

#ifdef ZENTU_HANDOVER_TSAN
#include <sanitizer/tsan_interface.h>
// Exported by the runtime, not declared by every compiler's header.
extern "C" void __tsan_ignore_thread_begin();
extern "C" void __tsan_ignore_thread_end();
#endif

namespace HandOver {

// Sender: everything this thread did before the call happens before a
// receiver's acquire(key). The posting call itself copies the message into
// the library's queue on behalf of the receiver and is not watched.
template <typename Post>
auto post(const void* key, Post&& postCall)
{
#ifdef ZENTU_HANDOVER_TSAN
    __tsan_release(const_cast<void*>(key));
    __tsan_ignore_thread_begin();
    struct End
    {
        ~End() { __tsan_ignore_thread_end(); }
    } end;
#else
    (void)key;
#endif
    return postCall();
}

// Sender: what this thread did so far happens before a receiver's
// acquire(key); for data the library hands on by itself later.
inline void release(const void* key)
{
#ifdef ZENTU_HANDOVER_TSAN
    __tsan_release(const_cast<void*>(key));
#else
    (void)key;
#endif
}

// Receiver, before it reads what was handed over under key.
inline void acquire(const void* key)
{
#ifdef ZENTU_HANDOVER_TSAN
    __tsan_acquire(const_cast<void*>(key));
#else
    (void)key;
#endif
}

} // namespace HandOver
