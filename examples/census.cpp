// census: counts the identifiers of a set of source files and ranks the most frequent.
//
// A small but complete tovlib client:
//  - each file is read in pieces of 1 MiB into one reused buffer, the scanner carrying
//    its state (and the bytes of an identifier cut in two) from piece to piece, so a
//    file of any size takes the same memory; a piece's words (FileWord, a view of the
//    buffer with a count) lie in a small tovHash in a scratch pool; once they have
//    been merged into the census, emptying the table ends them, and the next piece's
//    words and nodes come from the pool's recycled elements, one list head each;
//  - the census keeps one Entry per distinct identifier, which owns its text (held
//    once) and its counts, in a tovHash sized for a corpus of half a million
//    identifiers; the table, its nodes, the entries and their texts come from a pool of
//    their own. The words that rank become Words: string handles on the identifiers,
//    interned in the main string table;
//  - both tables find a word by its text and a keyed hash (SipHash-1-3) under a key
//    drawn once per process from the system's random source, computed once per
//    occurrence and searched without a virtual call: a file cannot choose identifiers
//    that pile into one chain, as it could under a fixed hash;
//  - the ranking is a tovSList kept bounded to the requested length, ordered by the
//    words' own objcmp;
//  - --report prints the pool report and the stopwatch's phase timings, --flags sets
//    diagnostic flags and dumps the ranking list.
// Which identifiers a file holds is census_scan.h's business, shared with the
// std::unordered_map twin in bench/census_peer.cpp.
#include <cerrno>
#include <chrono>
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <tovlib.h>

#include "census_scan.h"

#ifndef TOVLIB_SOURCE_DIR
#define TOVLIB_SOURCE_DIR "."
#endif

namespace fs = std::filesystem;

namespace {

// One ranked line: rank, count and number of files right-aligned in 4, 7 and 7
// columns, two blanks, the identifier. The header's column titles end where the
// numbers do.
const char* const headerLine = "rank  count  files  identifier\n";
const char* const rowFormat = "%4d%7d%7d  ";  // followed by the identifier and '\n'

const char* const usageText =
    "usage: census [options] [file|directory]...\n"
    "\n"
    "Counts the identifiers in source files and ranks the most frequent ones.\n"
    "An identifier is a run of ASCII letters, digits and underscores that does not\n"
    "start with a digit; bytes of 0x80 and above never belong to one. One longer than\n"
    "1 MiB (1048576 bytes) is not counted: each file holding such runs is named on\n"
    "standard error with their number.\n"
    "\n"
    "C-family sources (.c .h .cc .cpp .cxx .hh .hpp .hxx .inl, in any case) are read\n"
    "as code: only identifiers outside comments (// to the end of the line, and on\n"
    "past a backslash-newline; /* */), string and character literals (with escapes,\n"
    "the prefixes u8 u U L, and raw strings R\"delim(...)delim\") and numbers (0x1Fu,\n"
    "1e+10, 1'000) count. An ordinary literal not closed on its line ends with it; a\n"
    "comment or literal still open at the end of a file ends there. Every other file\n"
    "is read as text, where every identifier counts, and a run that starts with a\n"
    "digit (42, 0x1F, 9lives) is skipped whole.\n"
    "\n"
    "A directory is walked recursively: all its regular files, sorted by path\n"
    "(symbolic links inside it are skipped). Without a file argument census reads\n"
    "the .h and .cpp files of tovlib's own sources. A file named twice is counted\n"
    "twice. Files are read in pieces: one of any size takes no more memory than a\n"
    "small one, and a file that grows or shrinks while it is read is counted as far\n"
    "as it reached then.\n"
    "\n"
    "Options:\n"
    "  --top N         rank the N most frequent identifiers (default 20)\n"
    "  --text          read every file as text, C-family sources included\n"
    "  --format FORM   'text' (default) or 'json'\n"
    "  --report        after the ranking, print the pool report and the times of two\n"
    "                  phases: reading and counting, timed as one since each file is\n"
    "                  counted as soon as it is read (listing the files included),\n"
    "                  then ranking\n"
    "  --flags LIST    set the comma-separated diagnostic flags (0-199) and dump the\n"
    "                  ranking list after the ranking\n"
    "  --help          print this help and exit\n"
    "  --              end of options\n"
    "\n"
    "Output on standard output:\n"
    "  census: F files, T identifiers, D distinct\n"
    "  rank  count  files  identifier\n"
    "     1   1234     12  tovObject\n"
    "F counts the files read, T all identifier occurrences, D the distinct ones. Each\n"
    "line after the header is printf(\"%4d%7d%7d  %s\\n\", rank, count, files, name);\n"
    "the order is by count, then by number of files (both descending), then by name\n"
    "(byte order). With --format json the output is one JSON object instead:\n"
    "  {\"files\": F, \"identifiers\": T, \"distinct\": D, \"ranking\": [\n"
    "    {\"rank\": 1, \"count\": 1234, \"files\": 12, \"identifier\": \"tovObject\"}]}\n"
    "and each error about a file is one JSON object on a line of standard error,\n"
    "{\"file\": \"...\", \"error\": \"...\"}; a byte of a file name that is not part of\n"
    "UTF-8 text is written as the character of that value (\\u00XX).\n"
    "\n"
    "Progress goes to standard error when more than 8 files are read and standard\n"
    "error is a terminal.\n"
    "\n"
    "Exit status: 0 on success, 1 if a file could not be read or held an identifier\n"
    "over the bound (the rest is still counted), 2 on a usage error.\n";

const char* const wordClass = "censusWord";
const char* const fileWordClass = "censusFileWord";
const char* const entryClass = "censusEntry";

// The ranking's order on counts: more occurrences first, then more files; 0 on a tie,
// which the caller breaks by the text.
int byCounts(int count, int files, int otherCount, int otherFiles) {
    if (count != otherCount) return count > otherCount ? -1 : 1;
    if (files != otherFiles) return files > otherFiles ? -1 : 1;
    return 0;
}

// Buckets of the census's table: a prime near half the half million distinct
// identifiers of a large corpus (the system headers). Chains of about two entries cost
// a find little more than chains of one, and the buckets take 2 MiB rather than 4.
// The per-piece table is merged into the census whenever it holds four words a bucket,
// so its chains stay short whatever a piece holds.
constexpr int censusBuckets = 262139;
constexpr int fileBuckets = 4093;
constexpr int fileWordsMax = 4 * fileBuckets;

// Files are read in pieces of this size; an identifier longer than the bound is not
// counted (it is carried whole from piece to piece while it may still be counted).
constexpr std::size_t pieceSize = std::size_t{1} << 20;
constexpr std::size_t maxIdentifier = std::size_t{1} << 20;
// The bytes past an identifier's end that hashing it may read.
constexpr std::size_t hashReach = 8;

// The `n` (0 to 7) bytes at `p` as a number, in one load: the 8 bytes from `p` must be
// readable, and those past the first `n` count for nothing.
inline std::uint64_t firstBytes(const char* p, std::size_t n) {
    std::uint64_t m;
    std::memcpy(&m, p, 8);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return n ? m >> (64 - 8 * n) : 0;
#else
    return n ? m & ~std::uint64_t{0} >> (64 - 8 * n) : 0;
#endif
}

// SipHash-1-3 (64-bit) under a 128-bit key drawn once per process, the hash both
// tables find words by. Without the key no text can be made to collide with another
// more often than chance allows. The key comes from getrandom(); where that fails,
// from /dev/urandom; where that fails too, from the clock, the process id and an
// address, which an attacker would have to guess.
class KeyedHash {
public:
    KeyedHash() {
        std::uint64_t key[2] = {};
        if (getrandom(key, sizeof key, 0) != static_cast<ssize_t>(sizeof key)) {
            const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
            const bool read16 = fd >= 0 && read(fd, key, sizeof key) == static_cast<ssize_t>(sizeof key);
            if (fd >= 0) close(fd);
            if (!read16) {
                key[0] =
                    static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
                key[1] = static_cast<std::uint64_t>(getpid()) << 32 ^ reinterpret_cast<std::uintptr_t>(&key);
            }
        }
        _k0 = key[0];
        _k1 = key[1];
    }

    // The hash of the `length` bytes at `text`. Reads up to 8 bytes past them, which
    // must be readable: the census's buffer keeps that much room after its bytes.
    std::uint32_t operator()(const char* text, std::size_t length) const {
        State s{0x736f6d6570736575ULL ^ _k0, 0x646f72616e646f6dULL ^ _k1, 0x6c7967656e657261ULL ^ _k0,
                0x7465646279746573ULL ^ _k1};
        const char* end = text + (length & ~std::size_t{7});
        for (; text != end; text += 8) {
            std::uint64_t m;
            std::memcpy(&m, text, 8);
            s.compress(m);
        }
        s.compress(static_cast<std::uint64_t>(length) << 56 | firstBytes(text, length & 7));
        s.v2 ^= 0xff;
        s.round();
        s.round();
        s.round();
        const std::uint64_t h = s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
        return static_cast<std::uint32_t>(h ^ h >> 32);
    }

private:
    // The four words of SipHash's state; its rounds, forced inline (a call per round
    // would cost more than the round).
    struct State {
        std::uint64_t v0, v1, v2, v3;
        static std::uint64_t rotl(std::uint64_t x, int b) { return x << b | x >> (64 - b); }
        __attribute__((always_inline)) void round() {
            v0 += v1, v1 = rotl(v1, 13), v1 ^= v0, v0 = rotl(v0, 32);
            v2 += v3, v3 = rotl(v3, 16), v3 ^= v2;
            v0 += v3, v3 = rotl(v3, 21), v3 ^= v0;
            v2 += v1, v1 = rotl(v1, 17), v1 ^= v2, v2 = rotl(v2, 32);
        }
        __attribute__((always_inline)) void compress(std::uint64_t m) {
            v3 ^= m;
            round();
            v0 ^= m;
        }
    };
    std::uint64_t _k0, _k1;
};

const KeyedHash textHash;

// A tovHash of client objects that all carry a keyed hash and a text, found by them
// without a virtual call: the census's two tables are searched once per occurrence and
// once per merge. `T` has fullHash(), text() and length(), and hashes into the table's
// buckets as `fullHash() % N`, so that the table's own add, find and verify agree.
template <class T, int N>
class TextTable : public tovHash<N> {
public:
    TOV_OBJECT_OPERATORS(TextTable)

    T* lookup(std::uint32_t hash, const char* text, std::size_t length) const {
        for (const tovLinkObj* node = this->_buckets[hash % N]; node; node = node->_next) {
            auto& t = static_cast<T&>(node->getObj());
            if (t.fullHash() == hash && t.length() == length && t.sameText(text)) return &t;
        }
        return nullptr;
    }
    void insert(T& t) { this->linkAt(t, t.fullHash() % N); }
    // Empties the table when `first`, then each object's next(), are all it holds: only
    // their buckets are visited, not all N.
    void removeChained(const T* first) {
        tovLinkObj* chain = nullptr;
        for (const T* t = first; t; t = t->next()) {
            tovLinkObj*& head = this->_buckets[t->fullHash() % N];
            if (!head) continue;
            tovLinkObj* tail = head;
            while (tail->_next) tail = tail->_next;
            tail->_next = chain;
            chain = head;
            head = nullptr;
        }
        this->_count = 0;
        this->_col = 0;
        while (chain) {
            tovLinkObj* const node = chain;
            chain = node->_next;
            delete node;
        }
    }
};

// One distinct identifier of the piece being counted: a view of the buffer, its hash
// and its count, carved from the scratch pool. The piece's words are also chained in
// the order they were met, which the merge walks.
class FileWord : public tovObject {
public:
    FileWord(const char* text, std::size_t length, std::uint32_t hash, FileWord* next)
        : _hash(hash), _text(text), _length(length), _next(next) {}
    TOV_OBJECT_OPERATORS(FileWord)

    const char* text() const { return _text; }
    std::size_t length() const { return _length; }
    std::uint32_t fullHash() const { return _hash; }
    FileWord* next() const { return _next; }
    // Whether the buffer's bytes at `text`, of this word's length, are its own: both lie
    // in the buffer, with room to read 8 bytes at a time.
    bool sameText(const char* text) const {
        const char* mine = _text;
        std::size_t n = _length;
        for (; n >= 8; n -= 8, mine += 8, text += 8) {
            std::uint64_t a, b;
            std::memcpy(&a, mine, 8);
            std::memcpy(&b, text, 8);
            if (a != b) return false;
        }
        return firstBytes(mine, n) == firstBytes(text, n);
    }
    int count = 0;

    unsigned int hash(int n) const override { return _hash % static_cast<unsigned int>(n); }
    bool isEqual(const tovObject& other) const override {
        if (&other == this) return true;
        if (!other.isA(fileWordClass)) return false;
        const auto& k = static_cast<const FileWord&>(other);
        return k._hash == _hash && k._length == _length && std::memcmp(k._text, _text, _length) == 0;
    }
    bool isA(const char* name) const override { return name == fileWordClass || tovObject::isA(name); }
    const char* className() const override { return fileWordClass; }

private:
    std::uint32_t _hash;
    const char* _text;
    std::size_t _length;
    FileWord* _next;
};

// One distinct identifier of the whole census: its text, kept once in the census pool
// beside it, its keyed hash and its counts. Ranks by count, then by the number of files
// it occurs in (both descending), then by name (byte order).
class Entry : public tovObject {
public:
    Entry(const char* text, std::size_t length, std::uint32_t hash, tovPool* pool)
        : _hash(hash),
          _text(static_cast<char*>(pool->alloc(length))),
          _length(static_cast<std::uint32_t>(length)) {
        std::memcpy(_text, text, length);
    }
    ~Entry() override { getPool()->free(_text, _length); }
    Entry(const Entry&) = delete;
    Entry& operator=(const Entry&) = delete;
    TOV_OBJECT_OPERATORS(Entry)

    const char* text() const { return _text; }
    std::size_t length() const { return _length; }
    std::string_view view() const { return {_text, _length}; }
    std::uint32_t fullHash() const { return _hash; }
    bool sameText(const char* text) const { return std::memcmp(_text, text, _length) == 0; }
    int count() const { return _count; }
    int files() const { return _files; }
    // Adds occurrences in file number `file`: a file read in several pieces adds
    // several times, and counts once among the word's files.
    void addFile(int occurrences, int file) {
        _count += occurrences;
        _files += file != _lastFile;
        _lastFile = file;
    }

    unsigned int hash(int n) const override { return _hash % static_cast<unsigned int>(n); }
    bool isEqual(const tovObject& other) const override {
        if (&other == this) return true;
        return other.isA(entryClass) && static_cast<const Entry&>(other).view() == view();
    }
    int objcmp(const tovObject& other) const override {
        if (&other == this) return 0;
        if (!other.isA(entryClass)) return tovObject::objcmp(other);
        const auto& e = static_cast<const Entry&>(other);
        if (const int c = byCounts(_count, _files, e._count, e._files)) return c;
        const int c = view().compare(e.view());  // unsigned bytes, a prefix first
        return c < 0 ? -1 : c > 0;
    }
    bool isA(const char* name) const override { return name == entryClass || tovObject::isA(name); }
    const char* className() const override { return entryClass; }

private:
    std::uint32_t _hash;  // in the base's tail padding
    char* _text;
    std::uint32_t _length;
    int _lastFile = -1;
    int _count = 0;
    int _files = 0;
};

// One ranked identifier: a handle on its element in the main string table, where it
// is interned when it ranks, with its counts. Ranks as its entry does.
class Word : public tovString {
public:
    Word(tovStrElem* element, const Entry& entry)
        : tovString(element), _count(entry.count()), _files(entry.files()) {}
    TOV_OBJECT_OPERATORS(Word)

    int count() const { return _count; }
    int files() const { return _files; }

    int objcmp(const tovObject& other) const override {
        if (&other == this) return 0;
        if (!other.isA(wordClass)) return tovString::objcmp(other);
        const auto& w = static_cast<const Word&>(other);
        if (const int c = byCounts(_count, _files, w._count, w._files)) return c;
        return tovString::objcmp(w);
    }
    // The handle's dump, followed by the counts.
    std::ostream& dump(std::ostream& os, int indent, int nl) const override {
        tovString::dump(os, indent, 0);
        os << "count=" << _count << " files=" << _files;
        if (nl) os << std::endl;
        return os;
    }
    bool isA(const char* name) const override { return name == wordClass || tovString::isA(name); }
    const char* className() const override { return wordClass; }

private:
    int _count;
    int _files;
};

enum class Format { text, json };

struct Options {
    int top = 20;
    bool report = false;
    bool allText = false;
    Format format = Format::text;
    std::vector<int> flags;
    bool dumpList = false;
    std::vector<std::string> inputs;
};

// How errors about files are written: set once the options are read.
bool jsonErrors = false;

// `text` as a JSON string, quotes included. Valid UTF-8 passes through; a byte that
// is not part of a valid sequence is written as \u00XX, the character of its value.
std::string jsonString(std::string_view text) {
    std::string out = "\"";
    const auto* b = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char c = b[i];
        char escape[8];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7f) {
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            // The length of a well-formed sequence led by c (RFC 3629), else 0.
            std::size_t len = 0;
            unsigned char lo = 0x80, hi = 0xbf;
            if (c >= 0xc2 && c <= 0xdf) len = 2;
            if (c >= 0xe0 && c <= 0xef) len = 3, lo = c == 0xe0 ? 0xa0 : 0x80, hi = c == 0xed ? 0x9f : 0xbf;
            if (c >= 0xf0 && c <= 0xf4) len = 4, lo = c == 0xf0 ? 0x90 : 0x80, hi = c == 0xf4 ? 0x8f : 0xbf;
            bool valid = len != 0 && i + len <= n && b[i + 1] >= lo && b[i + 1] <= hi;
            for (std::size_t k = 2; valid && k < len; ++k) valid = b[i + k] >= 0x80 && b[i + k] <= 0xbf;
            if (valid) {
                out.append(text.data() + i, len);
                i += len;
                continue;
            }
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        }
        ++i;
    }
    return out + '"';
}

// Progress on standard error: only for more than 8 files and only on a terminal, so
// that a log gets no carriage returns. Error messages first end the progress line,
// so that they stand on lines of their own.
class Progress {
public:
    Progress(const char* phase, std::size_t total)
        : _phase(phase),
          _total(total),
          _step(total / 100 ? total / 100 : 1),
          _show(total > 8 && isatty(STDERR_FILENO)) {}
    // Redraws the line about a hundred times per phase, and always at the end.
    void update(std::size_t done) {
        if (!_show || (done % _step && done != _total)) return;
        std::cerr << "\rcensus: " << _phase << ' ' << done << '/' << _total << " files" << std::flush;
        _open = true;
    }
    void breakLine() {
        if (_open) std::cerr << '\n';
        _open = false;
    }
    void finish() { breakLine(); }

private:
    const char* _phase;
    std::size_t _total;
    std::size_t _step;
    bool _show;
    bool _open = false;
};

void fail(const std::string& what, const std::string& reason) {
    if (jsonErrors)
        std::cerr << "{\"file\": " << jsonString(what) << ", \"error\": " << jsonString(reason) << "}\n";
    else
        std::cerr << "census: " << what << ": " << reason << '\n';
}

[[noreturn]] void usageError(const std::string& message) {
    std::cerr << "census: " << message << "\nTry 'census --help' for more information.\n";
    std::exit(2);
}

// A whole decimal number from lo to hi, or -1. The value stays below 10 * hi, which
// fits in a long long even where long has 32 bits.
long long parseNumber(const char* text, long long lo, long long hi) {
    if (!*text) return -1;
    long long value = 0;
    for (const char* c = text; *c; ++c) {
        if (*c < '0' || *c > '9') return -1;
        value = value * 10 + (*c - '0');
        if (value > hi) return -1;
    }
    return value < lo ? -1 : value;
}

Options parseOptions(int argc, char** argv) {
    Options opt;
    bool optionsDone = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsDone || arg.size() < 2 || arg[0] != '-') {
            opt.inputs.push_back(arg);
            continue;
        }
        // --name=value and --name value are both accepted.
        std::string name = arg, value;
        bool hasValue = false;
        if (const auto eq = arg.find('='); eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            hasValue = true;
        }
        auto needValue = [&]() -> const std::string& {
            if (!hasValue) {
                if (i + 1 >= argc) usageError("option " + name + " needs a value");
                value = argv[++i];
                hasValue = true;
            }
            return value;
        };
        if (name == "--") {
            if (hasValue) usageError("unknown option " + arg);
            optionsDone = true;
        } else if (name == "--help") {
            std::cout << usageText;
            std::exit(0);
        } else if (name == "--report" && !hasValue) {
            opt.report = true;
        } else if (name == "--text" && !hasValue) {
            opt.allText = true;
        } else if (name == "--format") {
            if (needValue() == "text")
                opt.format = Format::text;
            else if (value == "json")
                opt.format = Format::json;
            else
                usageError("bad format '" + value + "' (text or json)");
        } else if (name == "--top") {
            const long long n = parseNumber(needValue().c_str(), 0, INT_MAX);
            if (n < 0) usageError("bad number for --top: '" + value + "'");
            opt.top = static_cast<int>(n);
        } else if (name == "--flags") {
            const std::string& list = needValue();
            std::size_t from = 0;
            for (;;) {
                const std::size_t comma = list.find(',', from);
                const std::string item =
                    list.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
                const long long f = parseNumber(item.c_str(), 0, tovLib::flagCount - 1);
                if (f < 0) usageError("bad flag number '" + item + "' in --flags (0-199)");
                opt.flags.push_back(static_cast<int>(f));
                if (comma == std::string::npos) break;
                from = comma + 1;
            }
            opt.dumpList = true;
        } else {
            usageError("unknown option " + arg);
        }
    }
    return opt;
}

// Every regular file under `dir`, recursively, appended to `out` as its path's text
// (a std::filesystem::path would also keep a list of its components, several times the
// text's size, for every file of the tree). Symbolic links are skipped: a link cycle
// cannot trap the walk, and a file reached through a link is not counted twice. With
// `sourcesOnly`, only .h and .cpp files. Returns false when part of the tree could not
// be read (reported on standard error).
bool walk(const fs::path& dir, bool sourcesOnly, std::vector<std::string>& out) {
    bool ok = true;
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    if (ec) {
        fail(dir.string(), ec.message());
        return false;
    }
    for (const fs::directory_iterator end; it != end; it.increment(ec)) {
        const fs::directory_entry& entry = *it;
        std::error_code sec;
        if (entry.is_symlink(sec)) continue;
        if (entry.is_directory(sec)) {
            ok = walk(entry.path(), sourcesOnly, out) && ok;
        } else if (entry.is_regular_file(sec)) {
            const fs::path ext = entry.path().extension();
            if (!sourcesOnly || ext == ".h" || ext == ".cpp") out.push_back(entry.path().native());
        }
    }
    if (ec) {
        fail(dir.string(), ec.message());
        ok = false;
    }
    return ok;
}

// Whether path `a` comes before path `b` in the order of std::filesystem::path, for
// the paths of one walk: they all start with the text of the walked directory, and past
// it their components are joined by single separators. Then comparing component by
// component is comparing the texts byte by byte (unsigned) with the separator below
// every other byte: at the first difference, a separator ends a component that is a
// prefix of the other path's component.
bool pathBefore(const std::string& a, const std::string& b) {
    const auto diff = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
    if (diff.second == b.end()) return false;  // b is a prefix of a, or equal
    if (diff.first == a.end()) return true;
    auto rank = [](char c) { return c == '/' ? 0 : static_cast<unsigned char>(c); };
    return rank(*diff.first) < rank(*diff.second);
}

// The files to read, in order: each argument's walk sorted by path, a file argument
// as it is. Without an argument, the library's own sources.
bool listInputs(const Options& opt, std::vector<std::string>& files) {
    bool ok = true;
    auto sortFrom = [&](std::size_t first) { std::sort(files.begin() + first, files.end(), pathBefore); };
    if (opt.inputs.empty()) {
        const fs::path root = TOVLIB_SOURCE_DIR;
        for (const char* sub : {"object", "pool", "container", "string", "lib", "examples"})
            ok = walk(root / sub, true, files) && ok;
        sortFrom(0);
        return ok;
    }
    for (const std::string& input : opt.inputs) {
        std::error_code ec;
        if (fs::is_directory(input, ec)) {
            const std::size_t first = files.size();
            ok = walk(input, false, files) && ok;
            sortFrom(first);
        } else {
            files.push_back(input);
        }
    }
    return ok;
}

// What countFile returns for a path that names something other than a regular file.
constexpr int notRegular = -1;

// The census: one Entry per distinct identifier.
class Census {
public:
    // The pools are heap-made with their release flags set: tovLib::reset() destroys
    // them, and with them the tables, the entries and the tables' nodes.
    Census()
        : _pool(new tovPool),
          _words(new (_pool) Words),
          _scratch(new tovPool),
          _fileWords(new (_scratch) FileWords) {}

    // Counts the identifiers of the file at `path`, as C-family code with `code`;
    // returns 0, the errno value of a failure, or notRegular. Only regular files are
    // read: opening a FIFO waits for a writer, and a device such as /dev/zero never
    // ends. The file is read in pieces until a read comes back short, so a file that
    // grows or shrinks meanwhile is counted as far as it reached; when a read fails,
    // what was read before stays counted. `tooLong` gets the number of identifiers
    // over the bound.
    int countFile(const std::string& path, bool code, std::size_t& tooLong) {
        std::error_code ec;
        const fs::file_status status = fs::status(path, ec);
        if (!ec && !fs::is_regular_file(status)) return notRegular;  // else fopen tells why
        errno = 0;
        std::FILE* f = std::fopen(path.c_str(), "rb");
        if (!f) return errno ? errno : EIO;
        censusScan::Scanner scanner(code, maxIdentifier);
        if (_buffer.empty()) _buffer.resize(pieceSize + scanner.maxCarry() + hashReach);
        ++_files;
        auto count = [&](const char* text, std::size_t n) {
            const std::uint32_t h = textHash(text, n);
            FileWord* w = _fileWords->lookup(h, text, n);
            if (!w) {
                if (_fileWords->count() == fileWordsMax) merge();
                w = new (_scratch) FileWord(text, n, h, _pieceWords);
                _fileWords->insert(*w);
                _pieceWords = w;
            }
            ++w->count;
            ++_identifiers;
        };
        std::size_t carried = 0;
        int err = 0;
        for (bool more = true; more;) {
            char* const piece = _buffer.data();
            const std::size_t n = std::fread(piece + carried, 1, pieceSize, f);
            more = n == pieceSize;
            if (!more && std::ferror(f)) err = errno ? errno : EIO;
            const char* end = piece + carried + n;
            const char* stop = scanner.scan(piece, end, more, count);
            // The piece's words are views of the buffer: they go before it changes.
            merge();
            carried = static_cast<std::size_t>(end - stop);
            std::memmove(piece, stop, carried);
        }
        std::fclose(f);
        tooLong = scanner.tooLong();
        return err;
    }

    // The `top` best words into `ranking`, in rank order, each interned in the main
    // string table. The list of the best entries never holds more than `top` of them,
    // so this costs O(distinct * top).
    void rank(tovSList& ranking, int top) {
        if (top <= 0) return;
        tovSList best;                // automatic: its destructor gives back the entries' references
        const Entry* last = nullptr;  // the list's last entry once it is full
        for (tovIterPtr it(_words); it; it++) {
            auto& e = static_cast<Entry&>(it());
            // An entry that would go in at the end of a full list would fall out again.
            if (last && e.objcmp(*last) >= 0) continue;
            best.add(e);
            if (best.count() > top) best.remove(*lastOf(best));
            if (best.count() == top) last = lastOf(best);
        }
        tovStringTbl* strings = tovStringTbl::establish(nullptr);
        for (tovIterPtr it(best); it; it++) {
            const auto& e = static_cast<const Entry&>(it());
            const std::string name(e.view());
            ranking.add(*new (_pool) Word(&strings->addStrElem(name.c_str()), e));
        }
    }

    long long identifiers() const { return _identifiers; }
    // The files opened and read.
    int files() const { return _files; }
    int distinct() const { return _words->count(); }

private:
    using Words = TextTable<Entry, censusBuckets>;
    using FileWords = TextTable<FileWord, fileBuckets>;

    // Merges the words of the per-piece table into the census and empties it.
    void merge() {
        for (const FileWord* fw = _pieceWords; fw; fw = fw->next()) {
            Entry* e = _words->lookup(fw->fullHash(), fw->text(), fw->length());
            if (!e) {
                e = new (_pool) Entry(fw->text(), fw->length(), fw->fullHash(), _pool);
                _words->insert(*e);  // the table's reference keeps it
            }
            e->addFile(fw->count, _files);
        }
        // The words leave with the table's references; their memory and the nodes'
        // wait in the scratch pool's recycled lists for the next piece.
        _fileWords->removeChained(_pieceWords);
        _pieceWords = nullptr;
    }

    static Entry* lastOf(const tovSList& list) {
        Entry* last = nullptr;
        for (tovIterPtr it(list); it; it++) last = &static_cast<Entry&>(it());
        return last;
    }

    tovPool* _pool;
    Words* _words;
    tovPool* _scratch;
    FileWords* _fileWords;
    FileWord* _pieceWords = nullptr;  // the piece's words, the last met first
    std::vector<char> _buffer;        // a piece of the file being read, after the bytes carried
    int _files = 0;                   // the number of the file being read
    long long _identifiers = 0;
};

void printText(const Census& census, const tovSList& ranking) {
    std::cout << "census: " << census.files() << " files, " << census.identifiers() << " identifiers, "
              << census.distinct() << " distinct\n"
              << headerLine;
    int rank = 0;
    for (tovIterPtr it(ranking); it; it++) {
        const auto& w = static_cast<const Word&>(it());
        char numbers[48];
        std::snprintf(numbers, sizeof numbers, rowFormat, ++rank, w.count(), w.files());
        std::cout << numbers << w.view() << '\n';
    }
}

void printJson(const Census& census, const tovSList& ranking) {
    std::cout << "{\"files\": " << census.files() << ", \"identifiers\": " << census.identifiers()
              << ", \"distinct\": " << census.distinct() << ", \"ranking\": [";
    int rank = 0;
    for (tovIterPtr it(ranking); it; it++) {
        const auto& w = static_cast<const Word&>(it());
        std::cout << (rank ? ",\n" : "\n");
        std::cout << "  {\"rank\": " << ++rank << ", \"count\": " << w.count() << ", \"files\": " << w.files()
                  << ", \"identifier\": " << jsonString(w.view()) << '}';
    }
    std::cout << (rank ? "\n]}\n" : "]}\n");
}

}  // namespace

int main(int argc, char** argv) {
    const Options opt = parseOptions(argc, argv);
    jsonErrors = opt.format == Format::json;

    tovLib::init(true);
    for (int f : opt.flags) tovLib::set(f);
    // The phase reports are kept until the ranking has been printed.
    std::ostringstream timing;
    if (opt.report) tovLib::startTimer();

    bool ok = true;
    {
        Census census;
        std::vector<std::string> paths;
        ok = listInputs(opt, paths);

        // Each file is counted as it is read, piece by piece, in one buffer that every
        // file reuses.
        {
            Progress progress("counting", paths.size());
            for (std::size_t i = 0; i < paths.size(); ++i) {
                std::size_t tooLong = 0;
                const int err =
                    census.countFile(paths[i], !opt.allText && censusScan::isCFamily(paths[i]), tooLong);
                if (err || tooLong) progress.breakLine();
                if (err) fail(paths[i], err == notRegular ? "not a regular file" : std::strerror(err));
                if (tooLong)
                    fail(paths[i], std::to_string(tooLong) + (tooLong > 1 ? " identifiers" : " identifier") +
                                       " longer than 1048576 bytes not counted");
                ok = ok && !err && !tooLong;
                progress.update(i + 1);
            }
            progress.finish();
        }
        if (opt.report) tovLib::sectionTimer(timing, "reading and counting");

        // An automatic list: its nodes lie in the census pool and its destructor gives
        // their references back before that pool goes.
        tovSList ranking;
        census.rank(ranking, opt.top);
        if (opt.report) tovLib::sectionTimer(timing, "ranking");

        if (opt.format == Format::json)
            printJson(census, ranking);
        else
            printText(census, ranking);
        if (opt.dumpList) ranking.dump(std::cout, 0, 1);
        if (opt.report) {
            tovPool::printAll(std::cout);
            std::cout << timing.str();
            tovLib::stopTimer(std::cout);
        }
        std::cout.flush();
    }

    // Everything the library holds goes at once: the main pool is emptied, the census
    // pool and the scratch pool are destroyed.
    tovLib::reset();
    return ok ? 0 : 1;
}
