// ppdedit: the driver. Every other part of the tool lives in PPD.cpp.
#include "PPD.h"

#include <cstring>

int main(int argc, char *argv[])
{
	// "/R" with two names is as short as three arguments: no third name.
	if (argc <= 3 || (argc == 4 && strcmp(argv[1], "/R") == 0)) {
		PrintUsage(argc > 0 ? argv[0] : nullptr);
		return 0;
	}
	if (!Initialize(argv)) {
		Uninitialize();
		return 0;
	}
	if (g_nMode == 0) {
		if (!CheckInputPPD() || !Add(argc, argv)) {
			Uninitialize();
			return 0;
		}
	} else if (!Replace(argc, argv)) {
		Uninitialize();
		return 0;
	}
	Uninitialize();
	printf("Output : %s\n", g_szPathName[kPathOutput]);
	return 0;
}
