/* The floor of any launcher process: start the child, wait, pass its
   status on. Nothing else. */
#include <process.h>

int main(void)
{
    const char* const argv[] = {CHILD, 0};
    return (int)_spawnv(_P_WAIT, CHILD, argv);
}
