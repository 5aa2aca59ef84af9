// pool_tour: makes pools and pooled objects, counts references, and prints the pools.
#include <iostream>

#include <tovlib.h>

namespace {

// A client class: pooled, counted, and identified like the library's own classes.
class Point : public tovObject {
public:
    Point(int x, int y) : _x(x), _y(y) {}
    TOV_OBJECT_OPERATORS(Point)
    int x() const { return _x; }
    int y() const { return _y; }

private:
    int _x, _y;
};

}  // namespace

int main() {
    tovPool scratch;  // pool 1; pool 0 is the main pool made at load

    // Objects carved from a pool are counted: the last down() gives them back.
    Point* kept = new (&scratch) Point(1, 2);
    kept->up();
    for (int i = 0; i < 100; ++i) {
        Point* p = new (&scratch) Point(i, -i);
        p->up();
        p->down();  // destroyed here; its memory is recycled for the next Point
    }
    Point* inMain = new (nullptr) Point(3, 4);  // no pool given: the main pool
    inMain->up();

    // Raw elements, small (recycled by size) and large (first fit, merged when freed).
    void* small = scratch.alloc(24);
    void* large = scratch.alloc(1000);
    scratch.free(large, 1000);

    tovLib::set(0);  // flag 0: reports also list blocks, free segments, recycled elements
    tovPool::printAll(std::cout);

    std::cout << "kept is a " << kept->className() << " at (" << kept->x() << ", " << kept->y()
              << "), pool " << kept->getPool()->getNum() << ", count " << kept->refCount() << '\n';

    scratch.free(small, 24);
    kept->down();
    inMain->down();
    // Release everything at once: the main pool is emptied, other pools destroyed.
    // `scratch` lives on the stack, so it must stay out of reach of releaseAll.
    scratch.setReleaseFlag(false);
    tovPool::releaseAll();
    std::cout << "pools: " << tovPool::npools() << ", bytes held: " << tovPool::apools() << '\n';
    return 0;
}
