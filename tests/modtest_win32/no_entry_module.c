/* A DLL without the install entry, for the module test host's tests only. */
__declspec(dllexport) int not_an_install_entry(void);
__declspec(dllexport) int not_an_install_entry(void) { return 0; }
