#pragma once
// The exported C functions take wide-character paths and turn them back into
// UTF-8 themselves. Command-line arguments arrive as bytes, so the tool decodes
// them as UTF-8 into wchar_t (UTF-32 on this platform), whatever the locale.

#include <string>

namespace plinth {

// Strict decoding: false for a malformed sequence, an overlong form, a
// surrogate or a value above U+10FFFF, since such a name cannot come back
// unchanged from the wide form. `wide` is then empty.
bool utf8ToWide(const std::string& utf8, std::wstring& wide);

}  // namespace plinth
