// LIKE matching for the stand-in's catalog queries.
#include "EngineHelpers.h"

#include "Utf.h"

namespace engine {

namespace {
bool likeMatch(const std::u16string& s, size_t si, const std::u16string& p, size_t pi) {
    while (pi < p.size()) {
        const char16_t c = p[pi];
        if (c == u'%') {
            for (size_t k = si; k <= s.size(); ++k)
                if (likeMatch(s, k, p, pi + 1))
                    return true;
            return false;
        }
        if (si >= s.size())
            return false;
        if (c == u'_') {
            ++si;
            ++pi;
            continue;
        }
        if (c == u'[') {
            const size_t close = p.find(u']', pi + 1);
            if (close != std::u16string::npos) {
                bool negate = pi + 1 < close && p[pi + 1] == u'^';
                bool hit = false;
                for (size_t k = pi + 1 + (negate ? 1 : 0); k < close; ++k) {
                    if (k + 2 < close && p[k + 1] == u'-') {
                        hit = hit || (s[si] >= p[k] && s[si] <= p[k + 2]);
                        k += 2;
                    } else {
                        hit = hit || s[si] == p[k];
                    }
                }
                if (hit == negate)
                    return false;
                ++si;
                pi = close + 1;
                continue;
            }
        }
        if (s[si] != c)
            return false;
        ++si;
        ++pi;
    }
    return si == s.size();
}

} // namespace

bool like(const std::string& value, const std::string& pattern) {
    return likeMatch(utf::toUtf16(utf::fold(value)), 0, utf::toUtf16(utf::fold(pattern)), 0);
}

} // namespace engine
