#include "link/tests/AllocationCounter.h"

#include <cstdlib>
#include <new>

namespace kyvo::test {
long& allocationsOnThisThread() {
    thread_local long count = 0;
    return count;
}
}  // namespace kyvo::test

void* operator new(std::size_t size) {
    ++kyvo::test::allocationsOnThisThread();
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
