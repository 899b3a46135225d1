// Counts the operator new calls (throwing and nothrow) one thread makes while it runs a piece of
// code. Only the counting thread counts, so no other test or thread sees a difference.
#pragma once

void beginCountingAllocations();
long endCountingAllocations();  // the calls since the begin

template <class F>
long allocationsDuring(F&& calls) {
    beginCountingAllocations();
    calls();
    return endCountingAllocations();
}
