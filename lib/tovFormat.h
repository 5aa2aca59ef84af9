// Internal: a guard that makes a caller's stream write integers in decimal.
#ifndef TOVLIB_TOVFORMAT_H
#define TOVLIB_TOVFORMAT_H

#include <ios>

// Reports and dumps promise decimal numbers, whatever base the caller left the stream
// in; the caller's formatting is put back when the report is done.
class tovDecimalGuard {
public:
    explicit tovDecimalGuard(std::ios_base& s) : _s(s), _flags(s.flags()) {
        _s.setf(std::ios_base::dec, std::ios_base::basefield);
    }
    ~tovDecimalGuard() { _s.flags(_flags); }
    tovDecimalGuard(const tovDecimalGuard&) = delete;
    tovDecimalGuard& operator=(const tovDecimalGuard&) = delete;

private:
    std::ios_base& _s;
    std::ios_base::fmtflags _flags;
};

#endif
