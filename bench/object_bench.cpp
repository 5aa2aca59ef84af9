// Pooled objects: dropping a million at once, and reference counting.
#include <memory>
#include <vector>

#include <tovlib.h>

#include "bench_util.h"

namespace bench {
namespace {

struct Obj : tovObject {
    int value = 0;
};
// The same object without the pool machinery, for the heap peer.
struct PlainObj {
    virtual ~PlainObj() = default;
    void* pool = nullptr;
    int count = 0;
    int value = 0;
};

constexpr std::size_t objectCount = 1000000;

// Timed: only the teardown of a million live objects.
void releasePool(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto* pool = new tovPool;
        for (std::size_t i = 0; i < objectCount; ++i) benchmark::DoNotOptimize(new (pool) Obj);
        state.ResumeTiming();
        pool->release();
        state.PauseTiming();
        delete pool;
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * objectCount);
}

void deletePooled(benchmark::State& state) {
    std::vector<Obj*> objs(objectCount);
    for (auto _ : state) {
        state.PauseTiming();
        auto* pool = new tovPool;
        for (auto& o : objs) o = new (pool) Obj;
        state.ResumeTiming();
        for (Obj* o : objs) delete o;
        state.PauseTiming();
        delete pool;
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * objectCount);
}

void deleteHeap(benchmark::State& state) {
    std::vector<PlainObj*> objs(objectCount);
    for (auto _ : state) {
        state.PauseTiming();
        for (auto& o : objs) o = new PlainObj;
        state.ResumeTiming();
        for (PlainObj* o : objs) delete o;
    }
    state.SetItemsProcessed(state.iterations() * objectCount);
}

void upDown(benchmark::State& state) {
    tovPool pool;
    Obj* o = new (&pool) Obj;
    o->up();  // held, so the loop never destroys it
    for (auto _ : state) {
        o->up();
        benchmark::DoNotOptimize(o);
        o->down();
    }
    o->down();
    state.SetItemsProcessed(state.iterations());
}

void sharedPtrCopy(benchmark::State& state) {
    auto held = std::make_shared<PlainObj>();
    for (auto _ : state) {
        std::shared_ptr<PlainObj> copy = held;
        benchmark::DoNotOptimize(copy);
    }
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

void registerObjects() {
    // Each iteration builds a million objects untimed: a few iterations are plenty.
    add("P5", "drop_1M_objects", "tovlib", releasePool)->Iterations(20);
    add("P5", "drop_1M_objects", "delete_each_pooled", deletePooled)->Iterations(20);
    add("P5", "drop_1M_objects", "delete_each_heap", deleteHeap)->Iterations(20);
    add("P6", "count_up_down", "tovlib", upDown);
    add("P6", "count_up_down", "shared_ptr", sharedPtrCopy);
}

}  // namespace bench
