#pragma once

// Whether another thread of this process is asleep in the kernel: blocked on
// a lock or a condition, or in a timed pause. A test waits (WaitUntil) for a
// thread to be asleep in the call it means to wake, instead of sleeping a
// fixed time and hoping the thread got there.

#include <sys/types.h>

// The calling thread's id, for ThreadIsAsleep.
pid_t CurrentThreadId();

// True while the thread sleeps; false while it runs, once it has ended, or
// when its state cannot be read.
bool ThreadIsAsleep(pid_t thread);
