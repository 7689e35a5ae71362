// How many threads this process runs, for tests that check none is left behind.
#pragma once

// -1 where the platform cannot tell.
int ThreadCount();
