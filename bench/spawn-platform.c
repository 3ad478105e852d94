/* The platform work of tarvex's graphical path, without the C++ runtime,
   strings or quoting: two module walks, one screen device context, one
   spawn. */
#include <windows.h>
#include <process.h>
#include <tlhelp32.h>

static void walk_modules(void)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, 0);
    MODULEENTRY32 entry = {0};
    entry.dwSize = sizeof entry;
    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    for (BOOL more = Module32First(snapshot, &entry); more; more = Module32Next(snapshot, &entry))
        ;
    CloseHandle(snapshot);
}

int main(void)
{
    const char* const argv[] = {CHILD, 0};
    walk_modules();
    walk_modules();
    GetDC(NULL);
    return (int)_spawnv(_P_WAIT, CHILD, argv);
}
