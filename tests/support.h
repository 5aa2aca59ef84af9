// Test support shared by the suites: sizes as a pool rounds them, dump texts, a class's
// identity over every class-name constant, and the elements and container kinds of the
// container tests.
#ifndef TOVLIB_TESTS_SUPPORT_H
#define TOVLIB_TESTS_SUPPORT_H

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include <tovlib.h>

// A request of n (> 0) bytes as a pool rounds it.
constexpr std::size_t rounded(std::size_t n) { return (n + 7) / 8 * 8; }

// What o.dump(os, indent, nl) writes.
inline std::string dumped(const tovObject& o, int indent, int nl) {
    std::ostringstream os;
    o.dump(os, indent, nl);
    return os.str();
}

// Every class-name constant of the library.
inline const std::vector<const char*>& classNames() {
    static const std::vector<const char*> all = {
        tovObjectClass,  tovPoolClass,      tovContainerClass, tovIteratorClass, tovIterPtrClass,
        tovLinkObjClass, tovFifoClass,      tovFifoIterClass,  tovListClass,     tovListIterClass,
        tovSListClass,   tovSListIterClass, tovHashClass,      tovHashIterClass, tovStrElemClass,
        tovStringClass,  tovStringTblClass, tovNamedObjClass,  tovSptrClass};
    return all;
}

// isA answers exactly for the names in `chain`, by pointer; className is the first.
template <class T>
void expectChain(const T& o, const std::vector<const char*>& chain) {
    for (const char* name : classNames())
        EXPECT_EQ(o.isA(name), std::find(chain.begin(), chain.end(), name) != chain.end())
            << chain.front() << " isA " << name;
    const std::string copy = chain.front();
    EXPECT_FALSE(o.isA(copy.c_str()));  // the text is never compared
    EXPECT_EQ(o.className(), chain.front());
}

// A lookup key with a chosen bucket. Its own isEqual is identity.
struct Key : tovObject {
    explicit Key(int k = 0, unsigned int b = 0) : key(k), bucket(b) {}
    unsigned int hash(int) const override { return bucket; }
    TOV_OBJECT_OPERATORS(Key)
    int key;
    unsigned int bucket;
};

// An element equal to any Key with its key (while a Key only equals itself), ordered
// by key, dumped as "item<key>", and recording its destruction.
struct Item : Key {
    using Key::Key;
    ~Item() override { gone.push_back(key); }
    bool isEqual(const tovObject& other) const override {
        const auto* k = dynamic_cast<const Key*>(&other);
        return k && k->key == key;
    }
    int objcmp(const tovObject& other) const override {
        const int k = dynamic_cast<const Key&>(other).key;
        return (key > k) - (key < k);
    }
    std::ostream& dump(std::ostream& os, int indent, int nl) const override {
        return os << tovLib::space(indent) << "item" << key << (nl ? "\n" : "");
    }
    static inline std::vector<int> gone;
};

// Every container kind, for typed tests; numbered, as test discovery expects.
using ContainerKinds = testing::Types<tovFifo, tovList, tovSList, tovHash<4191>>;
struct ByIndex {
    template <class>
    static std::string GetName(int i) {
        return std::to_string(i);
    }
};

#endif
