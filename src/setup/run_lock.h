#pragma once

#include <windows.h>

// Deployment systems may start the setup twice on one machine, and two runs
// would remove and install the utility and the driver over each other. The
// run that does the work holds the product's lock until its end.

// false when another setup holds the lock. true when it is this run's (*lock
// then holds it for ReleaseRunLock), and when the lock's name is taken by
// someone who is no administrator (*lock is then NULL): that is no setup.
bool TakeRunLock(HANDLE* lock);
void ReleaseRunLock(HANDLE lock);
