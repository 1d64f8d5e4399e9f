#include "diag/coregate.h"

namespace {

thread_local const CoreGate* innermost = nullptr;

}  // namespace

const CoreGate* CoreGate::current() { return innermost; }

CoreGate::InWork::InWork(CoreGate& gate) : gate_(gate), outer_(innermost)
{
    gate_.inWork_.fetch_add(1, std::memory_order_relaxed);
    innermost = &gate_;
}

CoreGate::InWork::~InWork()
{
    innermost = outer_;
    gate_.inWork_.fetch_sub(1, std::memory_order_relaxed);
}
