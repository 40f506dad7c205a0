#include "core/process_state.h"

ProcessState g_process = {NULL, false};
