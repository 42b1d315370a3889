#pragma once

#include <sys/types.h>

namespace kestrava::sys {

// A program that a ChildProcess starts in a session of its own never hears a terminal's Ctrl+C
// or hang-up. So every child is remembered here from its start until it is reaped, and a
// program can end them on every way out, even from a signal handler.

void rememberChild(pid_t pid) noexcept;
void forgetChild(pid_t pid) noexcept;

// Ends every remembered child and, where it leads one, its process group: SIGTERM, a grace of
// up to a second, then SIGKILL. Async-signal-safe; the children are left for the caller or init
// to reap.
void endRememberedChildren() noexcept;

// For a program's main(): ends the remembered children at exit(), on std::terminate, and on
// SIGINT, SIGTERM, SIGHUP and SIGQUIT, after which the program dies of that signal as it would
// have. A signal the program was started with ignored stays ignored.
void endChildrenOnEveryExit();

}  // namespace kestrava::sys
