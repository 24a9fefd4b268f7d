#include "analysis/Region.h"

#include <cmath>

namespace {

constexpr double kShortestPhraseMs = 2000.0;  // shorter regions at the head are skipped
constexpr double kLongRegionMs = 5000.0;      // shorter regions chain into a phrase
constexpr size_t kMaxLetters = 128;

}  // namespace

bool ValueRegion::Matches(const Region& other) const {
    return std::fabs(other.Value() - Value()) <= 0.12 && std::fabs(other.Length() - Length()) <= 2000.0;
}

// A phrase is a long region, or a chain of short regions closed by the first
// long one after them (a short first region always takes its successor
// along). Every later unlabelled run that matches the phrase member by member
// takes its letter; the scan then resumes right after the phrase, so the
// labelled runs are emitted as they are reached.
std::string LabelRegions(RegionList& regions) {
    std::string s;
    const size_t n = regions.size();
    int32_t letter = 'A';
    size_t p = 0;
    while (p < n && regions[p]->Length() < kShortestPhraseMs) ++p;

    auto emit = [&](int32_t c) {
        if (s.size() < kMaxLetters) s.push_back(static_cast<char>(c));
    };
    std::vector<Region*> phrase;
    while (p < n && s.size() < kMaxLetters) {
        while (regions[p]->Labelled()) {
            if (regions[p]->Label() != 0) emit(regions[p]->Label());
            if (++p == n) return s;
        }

        emit(letter);
        phrase.assign(1, regions[p].get());
        const bool shortStart = regions[p]->Length() < kLongRegionMs;
        if (++p == n) return s;
        bool extended = false;
        while (p < n && (regions[p]->Length() < kLongRegionMs || (!extended && shortStart))) {
            phrase.push_back(regions[p++].get());
            extended = true;
        }
        if (extended && p < n) phrase.push_back(regions[p++].get());
        const size_t resume = p;

        size_t r = resume;
        while (r < n) {
            if (regions[r]->Labelled() || !regions[r]->Matches(*phrase.front())) {
                ++r;
                continue;
            }
            const size_t runStart = r;
            bool same = true;
            for (Region* member : phrase) {
                if (r == n) {
                    same = false;
                    break;
                }
                // The compared region is passed over even when it differs.
                if (regions[r++]->Differs(*member)) {
                    same = false;
                    break;
                }
            }
            if (same) {
                regions[runStart]->SetLabel(letter);
                for (size_t k = runStart; k < r; ++k) regions[k]->SetLabelled(true);
            }
        }
        p = resume;
        ++letter;
    }
    return s;
}
