// A library that the loader tests' Notes library needs and the loader cannot find.
extern "C" __attribute__((visibility("default"))) int tarvikFakeDependency()
{
    return 1;
}
