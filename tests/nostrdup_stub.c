/* A C runtime whose _strdup always fails, as it may when memory runs out.
   The launcher calls _strdup through the import pointer, so defining that
   pointer here takes the place of msvcrt's. */
#include <stddef.h>

static char* failing_strdup(const char* text)
{
    (void)text;
    return NULL;
}

char* (*_imp___strdup)(const char*) = failing_strdup;
