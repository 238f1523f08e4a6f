#pragma once
// Turns the wide-character paths of the C exports into the byte strings the
// file functions take. On Linux wchar_t holds UTF-32 code points; paths become
// UTF-8 whatever the process locale, with no length limit.

#include <string>

namespace plinth {

// Returns false for a null path or one holding a value that is no Unicode
// scalar value (a surrogate or a value above U+10FFFF).
bool widePathToUtf8(const wchar_t* path, std::string& utf8);

}  // namespace plinth
