// Every way a client's C++ can create a pooled object records its pool and counts it:
// value-initialisation that zero-fills the memory, a value-initialised base, nested
// new-expressions, throwing constructors. Also built into the -O3 LTO marker target.
// And what the models do not check of tovObject (hash and order by address) and of the
// range-for walks (which walk each type takes). Copies, counts and tovRef: the
// container model.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

#include <tovlib.h>

#include "support.h"

namespace {

// Client classes whose default constructor is not user-provided: `X()` and `X{}`
// zero-fill them before any constructor runs.
struct Bare : tovObject {};
struct Counted : tovObject {
    TOV_OBJECT_OPERATORS(Counted)
    int uses = 0;
};
struct Queue : tovFifo {
    TOV_OBJECT_OPERATORS(Queue)
    int extra = 1;
};
// A base value-initialised in the initialiser list, after arguments that may hold
// new-expressions of their own.
struct Outer : Counted {
    explicit Outer(tovObject* in = nullptr) : Counted(), inner(in) {}
    TOV_OBJECT_OPERATORS(Outer)
    tovObject* inner;
};
struct ValueFifo : tovFifo {
    ValueFifo() : tovFifo() {}
};
struct Table : tovStringTbl {  // the library's own class, made by a client subclass
    Table() : tovStringTbl() {}
};
struct Holder : tovObject {  // members are never pooled, even when their object is
    TOV_OBJECT_OPERATORS(Holder)
    Counted member{};
};
// Throwing constructors: without data of its own (the base's placement delete has its
// exact size), and with data after a value-initialised base.
struct ThrowsPlain : tovObject {
    ThrowsPlain() { throw std::runtime_error("constructor failed"); }
};
struct ThrowsAfterBase : Counted {
    ThrowsAfterBase() : Counted() { throw std::runtime_error("constructor failed"); }
    TOV_OBJECT_OPERATORS(ThrowsAfterBase)
    char payload[40] = {};
};
// `X()` zero-fills it, wiping the pool operator new wrote there; then its first base
// throws before the tovObject part is built.
struct Throws {
    Throws() { throw std::runtime_error("base failed"); }
};
struct ZeroedThenThrows : Throws, tovObject {
    TOV_OBJECT_OPERATORS(ZeroedThenThrows)
};
// An argument that makes a pooled object of its own and then fails.
tovObject* madeThenFailed(tovPool* pool, tovObject*& made) {
    made = new (pool) Counted();
    throw std::runtime_error("argument failed");
}

using Forms = std::vector<std::pair<std::string, std::function<tovObject*(tovPool*)>>>;

// `new (p) T`, `new (p) T()` and `new (p) T{}` for each T.
template <class... T>
Forms defaultForms() {
    using std::string;
    return {{typeid(T).name(), [](tovPool* p) -> tovObject* { return new (p) T; }}...,
            {typeid(T).name() + string("()"), [](tovPool* p) -> tovObject* { return new (p) T(); }}...,
            {typeid(T).name() + string("{}"), [](tovPool* p) -> tovObject* { return new (p) T{}; }}...};
}

class InitForms : public testing::Test {
protected:
    void SetUp() override { tovLib::reInit(true); }
    void TearDown() override { tovLib::reset(); }
};

// Each form makes its object in the pool (or, given none, the main pool) with count
// 0, and its last down() gives back everything it and its constructor took.
TEST_F(InitForms, EveryFormOfEveryClassIsPooledAndCounted) {
    const tovString interned[] = {"text", "name"};  // the main table holds these before any count
    tovFifo fifo;
    tovList list;
    tovSList slist;
    tovHash<4191> hash;
    Forms forms = defaultForms<tovObject, tovFifo, tovList, tovSList, tovHash<4191>, Bare, Counted, Queue,
                               Outer, ValueFifo, Table>();
    forms.insert(
        forms.end(),
        {{"tovFifoIter{}", [&](tovPool* p) -> tovObject* { return new (p) tovFifoIter{&fifo}; }},
         {"tovListIter{}", [&](tovPool* p) -> tovObject* { return new (p) tovListIter{&list}; }},
         {"tovSListIter{}", [&](tovPool* p) -> tovObject* { return new (p) tovSListIter{&slist}; }},
         {"tovHashIter{}", [&](tovPool* p) -> tovObject* { return new (p) tovHashIter<4191>{&hash}; }},
         {"tovStrElem{}", [](tovPool* p) -> tovObject* { return new (p) tovStrElem{"text"}; }},
         {"tovString()", [](tovPool* p) -> tovObject* { return new (p) tovString("text"); }},
         {"tovNamedObj{}", [](tovPool* p) -> tovObject* { return new (p) tovNamedObj{tovString("name")}; }}});
    tovPool pool;
    for (const auto& [form, make] : forms)
        for (tovPool* given : {&pool, static_cast<tovPool*>(nullptr)}) {
            tovPool* const expected = given ? given : tovPool::mainPool();
            const std::size_t before = expected->umem();
            tovObject* o = make(given);
            EXPECT_EQ(o->getPool(), expected) << form;
            EXPECT_EQ(o->refCount(), 0) << form;
            EXPECT_GT(expected->umem(), before) << form;
            o->up();
            o->down();
            EXPECT_EQ(expected->umem(), before) << form;
            EXPECT_TRUE(expected->verify()) << form;
        }
}

// The allocation of a new-expression comes before its arguments are evaluated, so a
// pooled object made in the arguments is allocated and built between the outer
// allocation and the outer construction.
TEST_F(InitForms, NestedNewExpressionsEachFindTheirOwnPool) {
    tovPool p, q, r;
    auto* outer = new (&p) Outer(new (&q) Outer(new (&r) Counted()));
    auto* middle = static_cast<Outer*>(outer->inner);
    EXPECT_EQ(outer->getPool(), &p);
    EXPECT_EQ(middle->getPool(), &q);
    EXPECT_EQ(middle->inner->getPool(), &r);
    delete middle->inner;
    delete middle;
    delete outer;
    EXPECT_EQ(p.umem() + q.umem() + r.umem(), 0u);
}

// A failed construction gives back exactly what was taken, each size to its own class,
// and leaves no record that a later object at the same address could take its pool from.
TEST_F(InitForms, ThrowingConstructionLeavesNoRecordBehind) {
    static_assert(sizeof(ThrowsPlain) == sizeof(tovObject));
    tovPool pool;
    EXPECT_THROW(new (&pool) ThrowsPlain, std::runtime_error);
    EXPECT_THROW(new (&pool) ThrowsAfterBase(), std::runtime_error);
    EXPECT_THROW(new (&pool) ZeroedThenThrows(), std::runtime_error);
    EXPECT_EQ(pool.umem(), 0u);
    void* big = pool.alloc(sizeof(ThrowsAfterBase));  // each the element given back
    void* small = pool.alloc(sizeof(ThrowsPlain));
    EXPECT_EQ(pool.rmem(), 0u);
    EXPECT_LT(small, big);
    pool.release();
    tovObject* made = nullptr;
    EXPECT_THROW(new (&pool) Outer(madeThenFailed(&pool, made)), std::runtime_error);
    EXPECT_EQ(made->getPool(), &pool);
    delete made;
    EXPECT_EQ(pool.umem(), 0u);
    EXPECT_TRUE(pool.verify());
    void* mem = pool.alloc(sizeof(Outer));  // the outer object's memory, recycled
    auto* unpooled = ::new (mem) Outer();   // built without the pool-aware new
    Counted automatic{};
    static Counted staticObject{};
    auto* heap = ::new Counted();
    auto* holder = new (&pool) Holder();
    EXPECT_EQ(holder->getPool(), &pool);
    // Memory no object was built in -- given back through operator delete, or taken by
    // an argument and given back to the pool -- leaves no record either.
    Counted::operator delete(Counted::operator new(sizeof(Counted), &pool), sizeof(Counted));
    void* raw = nullptr;  // that memory again
    auto* outer = new (&pool) Outer((raw = Counted::operator new(sizeof(Counted), &pool), nullptr));
    pool.free(raw, sizeof(Counted));
    auto* rebuilt = ::new (pool.alloc(sizeof(Counted))) Counted();  // and again
    const tovObject* const plain[] = {unpooled, &automatic, &staticObject, heap, &holder->member, rebuilt};
    for (const tovObject* o : plain) EXPECT_EQ(o->getPool(), nullptr);
    rebuilt->~Counted();
    pool.free(rebuilt, sizeof(Counted));
    delete outer;
    unpooled->~Outer();
    ::delete heap;
    delete holder;
}

// A plain object hashes and orders by its address, and equals only itself.
TEST(Object, HashAndOrderFollowTheAddress) {
    tovObject objects[2];
    const auto a = reinterpret_cast<std::uintptr_t>(&objects[0]);
    EXPECT_EQ(objects[0].hash(4191), (a / 8) % 4191);
    EXPECT_EQ(objects[0].hash(0), 0u);  // no division by zero
    EXPECT_EQ(objects[0].objcmp(objects[0]), 0);
    EXPECT_EQ(objects[0].objcmp(objects[1]), -1);
    EXPECT_EQ(objects[1].objcmp(objects[0]), 1);
    EXPECT_TRUE(objects[0].isEqual(objects[0]));
    EXPECT_FALSE(objects[0].isEqual(objects[1]));
}

// A range-for over the library's own container types follows the nodes; over a
// subclass, which may give newIterator() another meaning, the protocol.
static_assert(std::is_same_v<decltype(begin(std::declval<tovSList&>())), tovNodeIter>);
static_assert(std::is_same_v<decltype(begin(std::declval<const tovHash<17>&>())), tovHashNodeIter<17>>);
static_assert(std::is_same_v<decltype(begin(std::declval<tovStringTbl&>())), tovRangeIter>);  // a subclass

}  // namespace
