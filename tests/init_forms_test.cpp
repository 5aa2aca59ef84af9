// Every way a client's C++ can create a pooled object records its pool and counts it:
// value-initialisation that zero-fills the memory, a value-initialised base, nested
// new-expressions, throwing constructors. Also built into the -O3 LTO marker target.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
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
// A table of the library's own class, made by a client subclass.
struct Table : tovStringTbl {
    Table() : tovStringTbl() {}
};
// Members are never pooled, even when the object around them is.
struct Holder : tovObject {
    TOV_OBJECT_OPERATORS(Holder)
    Counted member{};
};
struct ThrowsAfterBase : Counted {
    ThrowsAfterBase() : Counted() { throw std::runtime_error("constructor failed"); }
    TOV_OBJECT_OPERATORS(ThrowsAfterBase)
    char payload[40] = {};
};
// An argument that makes a pooled object of its own and then fails.
tovObject* madeThenFailed(tovPool* pool, tovObject*& made) {
    made = new (pool) Counted();
    throw std::runtime_error("argument failed");
}

using Make = std::function<tovObject*(tovPool*)>;

// Each form makes an object in the given pool (null: the main pool).
template <class T>
std::vector<std::pair<std::string, Make>> defaultForms(const std::string& name) {
    return {{name, [](tovPool* p) -> tovObject* { return new (p) T; }},
            {name + "()", [](tovPool* p) -> tovObject* { return new (p) T(); }},
            {name + "{}", [](tovPool* p) -> tovObject* { return new (p) T{}; }}};
}

class InitForms : public testing::Test {
protected:
    void SetUp() override { tovLib::reInit(true); }
    void TearDown() override { tovLib::reset(); }

    // The object is in `pool` (null: the main pool) with count 0, and its last
    // down() gives the pool back everything it and its constructor took.
    static void expectPooled(const std::string& form, const Make& make, tovPool* pool) {
        tovPool* const expected = pool ? pool : tovPool::mainPool();
        const std::size_t before = expected->umem();
        tovObject* o = make(pool);
        EXPECT_EQ(o->getPool(), expected) << form;
        EXPECT_EQ(o->refCount(), 0) << form;
        EXPECT_GT(expected->umem(), before) << form;
        o->up();
        o->down();
        EXPECT_EQ(expected->umem(), before) << form;
        EXPECT_TRUE(expected->verify()) << form;
    }
};

TEST_F(InitForms, EveryFormOfEveryClassIsPooledAndCounted) {
    const tovString interned[] = {"text", "name"};  // the main table holds these before any count
    tovFifo fifo;
    tovList list;
    tovSList slist;
    tovHash<4191> hash;
    std::vector<std::pair<std::string, Make>> forms;
    auto addForms = [&](const std::vector<std::pair<std::string, Make>>& more) {
        forms.insert(forms.end(), more.begin(), more.end());
    };
    addForms(defaultForms<tovObject>("tovObject"));
    addForms(defaultForms<tovFifo>("tovFifo"));
    addForms(defaultForms<tovList>("tovList"));
    addForms(defaultForms<tovSList>("tovSList"));
    addForms(defaultForms<tovHash<4191>>("tovHash"));
    addForms(defaultForms<Bare>("Bare"));
    addForms(defaultForms<Counted>("Counted"));
    addForms(defaultForms<Queue>("Queue"));
    addForms(defaultForms<Outer>("Outer"));
    addForms(defaultForms<ValueFifo>("ValueFifo"));
    addForms(defaultForms<Table>("Table"));
    addForms({
        {"tovFifoIter{}", [&](tovPool* p) -> tovObject* { return new (p) tovFifoIter{&fifo}; }},
        {"tovListIter{}", [&](tovPool* p) -> tovObject* { return new (p) tovListIter{&list}; }},
        {"tovSListIter{}", [&](tovPool* p) -> tovObject* { return new (p) tovSListIter{&slist}; }},
        {"tovHashIter{}", [&](tovPool* p) -> tovObject* { return new (p) tovHashIter<4191>{&hash}; }},
        {"tovStrElem{}", [](tovPool* p) -> tovObject* { return new (p) tovStrElem{"text"}; }},
        {"tovString()", [](tovPool* p) -> tovObject* { return new (p) tovString("text"); }},
        {"tovNamedObj{}", [](tovPool* p) -> tovObject* { return new (p) tovNamedObj{tovString("name")}; }},
    });
    tovPool pool;
    for (const auto& [form, make] : forms) {
        expectPooled(form, make, &pool);
        expectPooled(form + " in the main pool", make, nullptr);
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

// A failed construction gives back exactly what was taken, and leaves nothing that a
// later object at the same address could take for its pool.
TEST_F(InitForms, ThrowingConstructionLeavesNoRecordBehind) {
    tovPool pool;
    EXPECT_THROW(new (&pool) ThrowsAfterBase(), std::runtime_error);
    tovObject* made = nullptr;
    EXPECT_THROW(new (&pool) Outer(madeThenFailed(&pool, made)), std::runtime_error);
    EXPECT_EQ(made->getPool(), &pool);
    delete made;
    EXPECT_EQ(pool.umem(), 0u);
    EXPECT_TRUE(pool.verify());
    // The memory is handed out again; objects built elsewhere stay unpooled.
    auto* again = new (&pool) Counted();
    EXPECT_EQ(again->getPool(), &pool);
    delete again;
    Counted automatic{};
    static Counted staticObject{};
    auto* heap = ::new Counted();
    auto* holder = new (&pool) Holder();
    EXPECT_EQ(automatic.getPool(), nullptr);
    EXPECT_EQ(staticObject.getPool(), nullptr);
    EXPECT_EQ(heap->getPool(), nullptr);
    EXPECT_EQ(holder->getPool(), &pool);
    EXPECT_EQ(holder->member.getPool(), nullptr);
    ::delete heap;
    delete holder;
}

}  // namespace
