// Counts the calling thread's allocations through operator new, so a test
// can show that a path allocates nothing.
#pragma once

namespace kyvo::test {
long& allocationsOnThisThread();
}
