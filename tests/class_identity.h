// Test support: a class's answers to isA and className over every class-name constant.
#ifndef TOVLIB_TESTS_CLASS_IDENTITY_H
#define TOVLIB_TESTS_CLASS_IDENTITY_H

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <string>

#include <tovlib.h>

// isA answers exactly for the names in `chain`, by pointer; className is the first.
template <class T>
void expectChain(const T& o, std::initializer_list<const char*> chain) {
    static const char* const all[] = {
        tovObjectClass,  tovPoolClass,      tovContainerClass, tovIteratorClass, tovIterPtrClass,
        tovLinkObjClass, tovFifoClass,      tovFifoIterClass,  tovListClass,     tovListIterClass,
        tovSListClass,   tovSListIterClass, tovHashClass,      tovHashIterClass, tovStrElemClass,
        tovStringClass,  tovStringTblClass, tovNamedObjClass,  tovSptrClass};
    for (const char* name : all)
        EXPECT_EQ(o.isA(name), std::find(chain.begin(), chain.end(), name) != chain.end())
            << *chain.begin() << " isA " << name;
    const std::string copy = *chain.begin();
    EXPECT_FALSE(o.isA(copy.c_str()));  // the text is never compared
    EXPECT_EQ(o.className(), *chain.begin());
}

#endif
