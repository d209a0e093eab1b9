// A plain shared library for the library tests: one symbol to find.
extern "C" __attribute__((visibility("default"))) int VelkTestLibraryAnswer()
{
	return 42;
}
