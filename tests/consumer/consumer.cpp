// A client of the installed library: pools, a container, strings and class identity
// across the library boundary. Exits 0 when everything answers as it should.
#include <cstdio>

#include <tovlib.h>

namespace {

struct Symbol : tovNamedObj {
    explicit Symbol(const tovString& name) : tovNamedObj(name) {}
    TOV_OBJECT_OPERATORS(Symbol)
    int uses = 0;
};

int failures = 0;

void check(bool ok, const char* what) {
    if (!ok) {
        std::printf("consumer: %s failed\n", what);
        ++failures;
    }
}

}  // namespace

int main() {
    tovLib::init(true);
    auto* pool = new tovPool;
    {
        tovHash<4191> symbols;
        symbols.add(*new (pool) Symbol(tovString("alpha")));
        tovObject* found = symbols.find(tovString("alpha"));
        check(found != nullptr, "find by name");
        // A class-name constant taken here is the library's own pointer.
        const char* const mine = tovNamedObjClass;
        check(found && found->isA(mine) && found->isA(tovObjectClass), "isA across the boundary");
        check(dynamic_cast<Symbol*>(found) != nullptr, "dynamic_cast across the boundary");
        check(found && found->getPool() == pool, "object carved from its pool");
        check(symbols.count() == 1 && symbols.isA(tovHashClass), "hash table");
        // The header-only idioms come with the installed headers.
        tovRef<tovObject> held(found);
        int named = 0;
        for (tovObject& e : symbols) named += e.isA(tovNamedObjClass) && &e == held.get();
        check(named == 1 && held->refCount() == 2, "range-for and tovRef");
        check(tovString("alpha").view() == "alpha", "string view");
    }
    check(pool->umem() == 0, "last reference gives the memory back");
    tovLib::reset();
    check(tovPool::npools() == 1, "reset destroys the client's pool");
    std::printf("consumer: %s\n", failures ? "FAILED" : "ok");
    return failures ? 1 : 0;
}
