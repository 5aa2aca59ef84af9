// census: counts the identifiers of a set of text files and ranks the most frequent.
//
// A small but complete tovlib client:
//  - every identifier is interned as a tovString, and the census keeps one named
//    object (Word) per distinct identifier in a tovHash<4191> carved, together with
//    its words, from a pool of its own;
//  - each file is counted in the temporary string area: its scratch strings, its
//    per-file table and the per-file words live in the temporary pool and go away in
//    one piece with tovLib::tempReset() once the file has been merged into the census;
//  - the ranking is a tovSList kept bounded to the requested length, ordered by the
//    words' own objcmp;
//  - --report prints the pool report and the stopwatch's phase timings, --flags sets
//    diagnostic flags and dumps the ranking list.
#include <cerrno>
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <tovlib.h>

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
    "Counts the identifiers in text files and ranks the most frequent ones.\n"
    "An identifier is a run of ASCII letters, digits and underscores that does not\n"
    "start with a digit; a run that starts with a digit (42, 0x1F, 9lives) is skipped\n"
    "whole. A directory is walked recursively: all its regular files, sorted by path\n"
    "(symbolic links inside it are skipped). Without a file argument census\n"
    "reads the .h and .cpp files of tovlib's own sources.\n"
    "\n"
    "Options:\n"
    "  --top N       rank the N most frequent identifiers (default 20)\n"
    "  --report      after the ranking, print the pool report and the time taken by\n"
    "                the reading, counting and ranking phases\n"
    "  --flags LIST  set the comma-separated diagnostic flags (0-199) and dump the\n"
    "                ranking list after the ranking\n"
    "  --help        print this help and exit\n"
    "  --            end of options\n"
    "\n"
    "Output on standard output:\n"
    "  census: F files, T identifiers, D distinct\n"
    "  rank  count  files  identifier\n"
    "     1   1234     12  tovObject\n"
    "F counts the files read, T all identifier occurrences, D the distinct ones. Each\n"
    "line after the header is printf(\"%4d%7d%7d  %s\\n\", rank, count, files, name);\n"
    "the order is by count, then by number of files (both descending), then by name\n"
    "(byte order). Progress goes to standard error when more than 8 files are read.\n"
    "\n"
    "Exit status: 0 on success, 1 if a file could not be read (the others are still\n"
    "counted), 2 on a usage error.\n";

const char* const wordClass = "censusWord";
const char* const fileWordClass = "censusFileWord";

// One distinct identifier of the whole census. Ranks by count, then by the number of
// files it occurs in (both descending), then by name.
class Word : public tovNamedObj {
public:
    explicit Word(const tovString& name) : tovNamedObj(name) {}
    TOV_OBJECT_OPERATORS(Word)

    int count() const { return _count; }
    int files() const { return _files; }
    // Adds one file's occurrences.
    void addFile(int occurrences) {
        _count += occurrences;
        ++_files;
    }

    int objcmp(const tovObject& other) const override {
        if (&other == this) return 0;
        if (!other.isA(wordClass)) return tovNamedObj::objcmp(other);
        const auto& w = static_cast<const Word&>(other);
        if (_count != w._count) return _count > w._count ? -1 : 1;
        if (_files != w._files) return _files > w._files ? -1 : 1;
        return name().objcmp(w.name());
    }
    // The named object's line, followed by the counts.
    std::ostream& dump(std::ostream& os, int indent, int nl) const override {
        tovNamedObj::dump(os, indent, 0);
        os << "count=" << _count << " files=" << _files;
        if (nl) os << std::endl;
        return os;
    }
    bool isA(const char* name) const override { return name == wordClass || tovNamedObj::isA(name); }
    const char* className() const override { return wordClass; }

private:
    int _count = 0;
    int _files = 0;
};

// One distinct identifier of the file being counted: scratch, carved from the
// temporary pool and ended with it, without its destructor.
class FileWord : public tovNamedObj {
public:
    explicit FileWord(const tovString& name) : tovNamedObj(name) {}
    TOV_OBJECT_OPERATORS(FileWord)

    int count = 0;

    bool isA(const char* name) const override { return name == fileWordClass || tovNamedObj::isA(name); }
    const char* className() const override { return fileWordClass; }
};

struct Options {
    int top = 20;
    bool report = false;
    std::vector<int> flags;
    bool dumpList = false;
    std::vector<std::string> inputs;
};

// Progress of a phase on standard error, shown only for more than 8 files. Error
// messages first end the progress line, so that they stand on lines of their own.
class Progress {
public:
    Progress(const char* phase, std::size_t total)
        : _phase(phase), _total(total), _step(total / 100 ? total / 100 : 1), _show(total > 8) {}
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
        } else if (name == "--top") {
            const long long n = parseNumber(needValue().c_str(), 0, INT_MAX);
            if (n < 0) usageError("bad number for --top: '" + value + "'");
            opt.top = static_cast<int>(n);
        } else if (name == "--flags") {
            const std::string list = needValue();
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

// Every regular file under `dir`, recursively, appended to `out`. Symbolic links are
// skipped: a link cycle cannot trap the walk, and a file reached through a link is
// not counted twice. With `sourcesOnly`, only .h and .cpp files. Returns false when
// part of the tree could not be read (reported on standard error).
bool walk(const fs::path& dir, bool sourcesOnly, std::vector<fs::path>& out) {
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
            if (!sourcesOnly || ext == ".h" || ext == ".cpp") out.push_back(entry.path());
        }
    }
    if (ec) {
        fail(dir.string(), ec.message());
        ok = false;
    }
    return ok;
}

// The files to read, in order: each argument's walk sorted by path, a file argument
// as it is. Without an argument, the library's own sources.
bool listInputs(const Options& opt, std::vector<std::string>& files) {
    bool ok = true;
    auto addTree = [&](const fs::path& dir, bool sourcesOnly) {
        std::vector<fs::path> found;
        ok = walk(dir, sourcesOnly, found) && ok;
        std::sort(found.begin(), found.end());
        for (const fs::path& p : found) files.push_back(p.string());
    };
    if (opt.inputs.empty()) {
        const fs::path root = TOVLIB_SOURCE_DIR;
        std::vector<fs::path> found;
        for (const char* sub : {"object", "pool", "container", "string", "lib", "examples"})
            ok = walk(root / sub, true, found) && ok;
        std::sort(found.begin(), found.end());
        for (const fs::path& p : found) files.push_back(p.string());
        return ok;
    }
    for (const std::string& input : opt.inputs) {
        std::error_code ec;
        if (fs::is_directory(input, ec))
            addTree(input, false);
        else
            files.push_back(input);
    }
    return ok;
}

// What readFile returns for a path that names something other than a regular file.
constexpr int notRegular = -1;

// Reads the whole file into `text`; on failure returns the errno value, or notRegular.
// Only regular files are read: opening a FIFO waits for a writer, and a device such as
// /dev/zero never ends.
int readFile(const std::string& path, std::string& text) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (!ec && !fs::is_regular_file(status)) return notRegular;  // else fopen tells why
    errno = 0;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return errno ? errno : EIO;
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    const int err = std::ferror(f) ? (errno ? errno : EIO) : 0;
    std::fclose(f);
    return err;
}

bool isIdentChar(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Calls `use(text)` for every identifier of `data`, as a nul-terminated text.
template <class Use>
void forEachIdentifier(const std::string& data, Use use) {
    std::string ident;
    const std::size_t size = data.size();
    std::size_t i = 0;
    while (i < size) {
        const auto c = static_cast<unsigned char>(data[i]);
        if (!isIdentChar(c)) {
            ++i;
            continue;
        }
        const std::size_t start = i;
        while (i < size && isIdentChar(static_cast<unsigned char>(data[i]))) ++i;
        if (c >= '0' && c <= '9') continue;  // a number, or a word glued to one
        ident.assign(data, start, i - start);
        use(ident.c_str());
    }
}

// The census: one Word per distinct identifier, found by its main-table name.
class Census {
public:
    // The pool is heap-made with its release flag set: tovLib::reset() destroys it,
    // and with it the table, the words, their name handles and the table's nodes.
    Census() : _pool(new tovPool), _words(new (_pool) tovHash<4191>) {}

    // Counts one file in the temporary area, then merges its words into the census.
    void countFile(const std::string& data) {
        // The first file opens the temporary area in a new pool; later files reuse
        // that pool, which tempReset() empties but keeps. A new pool per file would
        // leave one emptied pool per file in the chain of pools until reset().
        tovLib::tempInit(_scratch);
        _scratch = tovStringTbl::tempTable()->getPool();
        {
            auto* fileWords = new (_scratch) tovHash<4191>;
            forEachIdentifier(data, [&](const char* text) {
                const tovString key(text);  // interned in the temporary table
                auto* w = static_cast<FileWord*>(fileWords->find(key));
                if (!w) {
                    w = new (_scratch) FileWord(key);
                    fileWords->add(*w);
                }
                ++w->count;
                ++_identifiers;
            });
            tovStringTbl* mainTable = tovStringTbl::establish(nullptr);
            for (tovIterPtr it(fileWords); it; it++) {
                const auto& fw = static_cast<const FileWord&>(it());
                // A handle on the main table's element: made with the text, a handle
                // would go to the temporary table, which is open.
                const tovString key(&mainTable->addStrElem(fw.name()));
                auto* w = static_cast<Word*>(_words->find(key));
                if (!w) {
                    w = new (_pool) Word(key);
                    _words->add(*w);  // the table's reference keeps it
                }
                w->addFile(fw.count);
            }
            // The iterator came from the temporary pool as well; it is gone here.
        }
        // Ends the temporary table, its strings, the per-file table and its words,
        // all without destructors.
        tovLib::tempReset();
    }

    // The `top` best words into `ranking`, in rank order. The list never holds more
    // than `top` words, so this costs O(distinct * top).
    void rank(tovSList& ranking, int top) const {
        if (top <= 0) return;
        const Word* last = nullptr;  // the list's last word once it is full
        for (tovIterPtr it(_words); it; it++) {
            auto& w = static_cast<Word&>(it());
            // A word that would go in at the end of a full list would fall out again.
            if (last && w.objcmp(*last) >= 0) continue;
            ranking.add(w);
            if (ranking.count() > top) ranking.remove(*lastOf(ranking));
            if (ranking.count() == top) last = lastOf(ranking);
        }
    }

    long long identifiers() const { return _identifiers; }
    int distinct() const { return _words->count(); }

private:
    static Word* lastOf(const tovSList& list) {
        Word* last = nullptr;
        for (tovIterPtr it(list); it; it++) last = &static_cast<Word&>(it());
        return last;
    }

    tovPool* _pool;
    tovHash<4191>* _words;
    tovPool* _scratch = nullptr;
    long long _identifiers = 0;
};

}  // namespace

int main(int argc, char** argv) {
    const Options opt = parseOptions(argc, argv);

    tovLib::init(true);
    for (int f : opt.flags) tovLib::set(f);
    // The phase reports are kept until the ranking has been printed.
    std::ostringstream timing;
    if (opt.report) tovLib::startTimer();

    std::vector<std::string> paths;
    bool ok = listInputs(opt, paths);

    // Reading: every file into memory first, so the counting phase is timed alone.
    std::vector<std::string> texts;
    int filesRead = 0;
    {
        Progress progress("reading", paths.size());
        std::string text;
        for (std::size_t i = 0; i < paths.size(); ++i) {
            text.clear();
            if (const int err = readFile(paths[i], text)) {
                progress.breakLine();
                fail(paths[i], err == notRegular ? "not a regular file" : std::strerror(err));
                ok = false;
            } else {
                texts.push_back(std::move(text));
                text = std::string();
                ++filesRead;
            }
            progress.update(i + 1);
        }
        progress.finish();
    }
    if (opt.report) tovLib::sectionTimer(timing, "reading");

    {
        Census census;
        {
            Progress progress("counting", texts.size());
            for (std::size_t i = 0; i < texts.size(); ++i) {
                census.countFile(texts[i]);
                progress.update(i + 1);
            }
            progress.finish();
        }
        texts.clear();
        texts.shrink_to_fit();
        if (opt.report) tovLib::sectionTimer(timing, "counting");

        // An automatic list: its nodes lie in the census pool and its destructor gives
        // their references back before that pool goes.
        tovSList ranking;
        census.rank(ranking, opt.top);
        if (opt.report) tovLib::sectionTimer(timing, "ranking");

        std::cout << "census: " << filesRead << " files, " << census.identifiers() << " identifiers, "
                  << census.distinct() << " distinct\n"
                  << headerLine;
        int rank = 0;
        for (tovIterPtr it(ranking); it; it++) {
            const auto& w = static_cast<const Word&>(it());
            char numbers[48];
            std::snprintf(numbers, sizeof numbers, rowFormat, ++rank, w.count(), w.files());
            std::cout << numbers << static_cast<const char*>(w.name()) << '\n';
        }
        if (opt.dumpList) ranking.dump(std::cout, 0, 1);
        if (opt.report) {
            tovPool::printAll(std::cout);
            std::cout << timing.str();
            tovLib::stopTimer(std::cout);
        }
        std::cout.flush();
    }

    // Everything the library holds goes at once: the main pool is emptied, the census
    // pool and the temporary pool are destroyed.
    tovLib::reset();
    return ok ? 0 : 1;
}
