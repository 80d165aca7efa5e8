#pragma once
// Hand-offs between threads that the race detector cannot see. Qt is not built with it: a function
// queued to another thread's event loop, or a QThread's end seen by wait(), is ordered by Qt's own
// locks, which the detector does not observe. The functions that hand work over say so here:
// `release(token)` on the handing side once everything handed over is written, `acquire(token)`
// on the receiving side before any of it is read. Outside the ThreadSanitizer build both do
// nothing.

#if defined(__SANITIZE_THREAD__)
#define VELK_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VELK_THREAD_SANITIZER 1
#endif
#endif

#if defined(VELK_THREAD_SANITIZER)
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace velk::tsan {

#if defined(VELK_THREAD_SANITIZER)
inline void release(const void* token) { __tsan_release(const_cast<void*>(token)); }
inline void acquire(const void* token) { __tsan_acquire(const_cast<void*>(token)); }
#else
inline void release(const void*) {}
inline void acquire(const void*) {}
#endif

} // namespace velk::tsan
