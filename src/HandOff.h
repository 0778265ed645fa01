// Where our data passes from one thread to another through Qt (a queued call, a signal, a thread pool).
// Qt synchronises such hand-offs with its own futex-based locks, which ThreadSanitizer cannot see in a
// Qt it did not build; these marks let it see the order, so what it reports is about our own code.
// Outside a ThreadSanitizer build they are nothing.
#pragma once

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);

// In the sending thread, before the hand-off.
inline void handOff(const void* channel)
{
    __tsan_release(const_cast<void*>(channel));
}
// In the receiving thread, before it touches what it was handed.
inline void takeOver(const void* channel)
{
    __tsan_acquire(const_cast<void*>(channel));
}
#else
inline void handOff(const void*) { }
inline void takeOver(const void*) { }
#endif
