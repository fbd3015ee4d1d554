// The module's platform layer on Windows: the instance stored at process
// attach, strings from the module's STRINGTABLE, system message texts, the
// render's worker threads.
#include <windows.h>

#include "host/module_instance.h"
#include "platform/platform.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    return zoka::ModuleAttach(instance, reason) ? TRUE : FALSE;
}

namespace platform {

int LoadResourceString(ModuleHandle instance, uint32_t id, char* buffer, int bufferMax) {
    return LoadStringA(static_cast<HINSTANCE>(instance), id, buffer, bufferMax);
}

char* AllocSystemMessage(uint32_t code) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, LANG_USER_DEFAULT, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    if (length == 0) {
        if (text != nullptr) LocalFree(text);
        return nullptr;
    }
    return text;
}

void FreeSystemMessage(char* text) { LocalFree(text); }

namespace {

DWORD WINAPI RunThread(LPVOID record) {
    auto& thread = *static_cast<Thread*>(record);
    thread.entry(thread.argument);
    return 0;
}

}  // namespace

bool StartThread(Thread& thread) {
    HANDLE handle = CreateThread(nullptr, 0, RunThread, &thread, 0, nullptr);
    thread.handle = reinterpret_cast<uintptr_t>(handle);
    return handle != nullptr;
}

void JoinThread(Thread& thread) {
    const auto handle = reinterpret_cast<HANDLE>(thread.handle);
    WaitForSingleObject(handle, INFINITE);
    CloseHandle(handle);
}

}  // namespace platform
