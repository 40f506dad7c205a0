#pragma once

#include <windows.h>

// Deployment systems may start the setup twice on one machine, and two runs
// would remove and install the utility and the driver over each other. The
// run that does the work holds the product's lock until its end.

// true when the lock is this run's; *lock then holds it for ReleaseRunLock.
bool TakeRunLock(HANDLE* lock);
void ReleaseRunLock(HANDLE lock);
