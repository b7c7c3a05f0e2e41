#include "DiskVersions.h"

namespace diskversion {

int ofMajor(int major) {
    for (int year : {2000, 2005, 2008, 2012, 2014, 2016, 2017, 2019, 2022, 2025}) {
        Personality known;
        if (personalityFor(year, known) && known.major == major)
            return known.databaseVersion();
    }
    return 998 + 10 * (major - 17); // a version this server has never heard of is newer still
}

int oldestOpened(const Personality& p) {
    return p.year >= 2012 ? 611 : 539;
}

namespace {
// The versions an upgrade passes through. Published upgrade logs show the steps up to 782 (2014)
// skipping numbers: 539, 551, 552, 611, 621, 622, then every version from 625 to 655, then 668 to
// 677, 679 to 706 and 770 to 782. A real 706 to 904 conversion on 2019 logs 112 steps: 782 goes to
// 801 and 869 to 875 in one step each, every other number between is a step. Beyond 904 no log was
// at hand: there every number is a step, which is a guess.
std::vector<int> chain() {
    std::vector<int> c{539, 551, 552, 611, 621, 622};
    auto range = [&c](int first, int last) {
        for (int v = first; v <= last; ++v)
            c.push_back(v);
    };
    range(625, 655);
    range(668, 677);
    range(679, 706);
    range(770, 782);
    range(801, 869);
    range(875, 998);
    return c;
}
} // namespace

std::vector<std::pair<int, int>> upgradeSteps(int from, int to) {
    static const std::vector<int> kChain = chain();
    std::vector<std::pair<int, int>> steps;
    int at = from;
    for (int v : kChain) {
        if (v <= at || v > to)
            continue;
        steps.emplace_back(at, v);
        at = v;
    }
    return steps;
}

} // namespace diskversion
