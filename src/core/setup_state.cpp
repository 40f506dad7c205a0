#include "core/setup_state.h"

static const SetupState kInitialState = {
    NULL, 0, L"", L"", 0, L".\\devupd.log", 0, L"", L"", L"", L"", 0, NULL, L"", L"", 0, 0, 0, 0,
};

SetupState g_setup = kInitialState;

void ResetSetupState()
{
    g_setup = kInitialState;
}
