#include "utf8_path.h"

namespace plinth {

static_assert(sizeof(wchar_t) == 4, "wchar_t must hold UTF-32 code points");

bool utf8ToWide(const std::string& utf8, std::wstring& wide) {
    wide.clear();
    const std::size_t size = utf8.size();
    std::size_t i = 0;
    while (i < size) {
        const unsigned lead = static_cast<unsigned char>(utf8[i]);
        unsigned long code;
        std::size_t extra;
        unsigned long minimum;
        if (lead < 0x80) {
            code = lead;
            extra = 0;
            minimum = 0;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            code = lead & 0x1F;
            extra = 1;
            minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            code = lead & 0x0F;
            extra = 2;
            minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            code = lead & 0x07;
            extra = 3;
            minimum = 0x10000;
        } else {
            wide.clear();
            return false;  // a continuation byte, or a lead byte no valid form uses
        }
        if (size - i - 1 < extra) {
            wide.clear();
            return false;  // truncated at the end
        }
        for (std::size_t k = 1; k <= extra; ++k) {
            const unsigned next = static_cast<unsigned char>(utf8[i + k]);
            if ((next & 0xC0) != 0x80) {
                wide.clear();
                return false;
            }
            code = (code << 6) | (next & 0x3F);
        }
        if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            wide.clear();
            return false;
        }
        wide.push_back(static_cast<wchar_t>(code));
        i += extra + 1;
    }
    return true;
}

}  // namespace plinth
