// A tiny library for the dynamic-loading tests.
#ifdef _WIN32
#define OSKEL_TESTLIB_EXPORT extern "C" __declspec(dllexport)
#else
#define OSKEL_TESTLIB_EXPORT extern "C" __attribute__((visibility("default")))
#endif

OSKEL_TESTLIB_EXPORT int oskelPlatformTestAnswer(void) { return 42; }

// Counts its calls: state that lives as long as the library stays loaded.
OSKEL_TESTLIB_EXPORT int oskelPlatformTestCounter(void)
{
    static int calls = 0;
    return ++calls;
}
