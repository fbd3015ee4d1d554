// The module's only door to the operating system. The Windows build answers
// with Win32 (LoadStringA, FormatMessageA, LocalFree, DllMain); the Linux
// build with a stand-in that behaves the same way on the module's own string
// table and a table of common system error texts.
#pragma once

#include <cstdint>

namespace platform {

using ModuleHandle = void*;

// The system string loader: copies at most bufferMax - 1 characters of
// string `id` and a terminator into buffer and returns the number of
// characters copied; 0 when the module has no such string.
int LoadResourceString(ModuleHandle instance, uint32_t id, char* buffer, int bufferMax);

// The system's message text for an error code, from the system message table
// in the user's default language, in a buffer the system allocates; null when
// the system has no text for the code. Released with FreeSystemMessage.
char* AllocSystemMessage(uint32_t code);
void FreeSystemMessage(char* text);

// A thread of the system running entry(argument). The record is the
// caller's and must outlive the thread: StartThread fills handle and returns
// false when the system starts no thread; JoinThread waits for a started
// thread's end and releases it.
struct Thread {
    void (*entry)(void* argument);
    void* argument;
    uintptr_t handle;
};
bool StartThread(Thread& thread);
void JoinThread(Thread& thread);

}  // namespace platform
