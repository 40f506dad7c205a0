#pragma once

// Asks whether to restart now and, on Yes, asks Windows to restart. Never in
// quiet mode. 1 when Windows accepted the request.
int RebootSystem();
