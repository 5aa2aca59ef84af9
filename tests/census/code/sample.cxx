// Every kind of comment and literal: only the identifiers of the code count.
// A comment's "quote opens no string, nor does its apostrophe's.
/* A block comment: // inside it is no line comment,
   and it ends only here */ int alpha = 1;
#include <cstdio>

// A line comment continued by a backslash \
stays a comment on the next line
int beta = 0x1Fu + 0b1010ull + 1e+10 + .5f + 1.5e-3L + 0x1p-3 + alpha;
int gamma = 1'000 + alpha;  // a digit separator opens no character literal
int delta = 0xFF'FFu + alpha + beta;
const char* epsilon = "a // in a string" ; int zeta = alpha + beta;
const char* eta = "a /* in a string" ; int theta = alpha + gamma;
const char* iota = "an \" escaped quote", *kappa = "a backslash \\"; int lambda;
const wchar_t* mu = L"wide" L'w'; const char* nu = u8"narrow" u8'n' u"sixteen" U"thirtytwo";
const char* xi = R"delim(raw text )" still raw
and raw on the next line)delim"; int omicron = alpha;
const wchar_t* pi = LR"(wide raw)" u8R"x(narrow raw)x"; char rho = '"', sigma = '\'', tau = 'x';
#error an apostrophe's literal ends with its line
int phi = alpha;
int upsilon = alpha /* an inline comment */ + beta;  // the end
