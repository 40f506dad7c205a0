// Loads a DLL by its bare name with the default search, as a careless program
// would: proof that a planted DLL is picked up when nothing prevents it.
#include <windows.h>

int wmain(int argc, wchar_t** argv)
{
    int loaded = 0;
    for (int i = 1; i < argc; ++i) {
        loaded += LoadLibraryW(argv[i]) != NULL ? 1 : 0;
    }
    return loaded;
}
