#include "analysis/Region.h"

#include <gtest/gtest.h>

namespace {

RegionList listOf(std::initializer_list<std::pair<double, double>> lengthsAndValues) {
    RegionList list;
    double start = 0.0;
    for (const auto& [length, value] : lengthsAndValues) {
        list.push_back(std::make_unique<GGRegion>(start, length, value));
        start += length;
    }
    return list;
}

}  // namespace

TEST(Region, MatchRuleAndStructureLabels) {
    RegionList one = listOf({{6000.0, 0.5}});
    EXPECT_EQ(LabelRegions(one), "A");

    RegionList same = listOf({{6000.0, 0.0}, {8000.0, 0.12}});  // both limits met exactly
    EXPECT_EQ(LabelRegions(same), "AA");
    EXPECT_TRUE(same[1]->Labelled());
    EXPECT_EQ(same[1]->Label(), 'A');

    RegionList apart = listOf({{6000.0, 0.5}, {6000.0, 0.63}});
    EXPECT_EQ(LabelRegions(apart), "AB");
    RegionList longer = listOf({{6000.0, 0.5}, {8001.0, 0.5}});
    EXPECT_EQ(LabelRegions(longer), "AB");

    // No region long enough to start a phrase.
    RegionList shortOnly = listOf({{1000.0, 0.5}, {1500.0, 0.5}});
    EXPECT_EQ(LabelRegions(shortOnly), "");

    // Both value kinds apply one rule, in either direction; a repeat run
    // matches everything.
    const GGRegion g(0.0, 5000.0, 0.3);
    const SCRegion s(0.0, 6900.0, 0.41);
    const SCRegion far(0.0, 5000.0, 0.43);
    EXPECT_TRUE(g.Matches(s) && s.Matches(g));
    EXPECT_TRUE(g.Differs(far) && far.Differs(g));
    const RSRegion rs(0.0, 4000.0);
    EXPECT_TRUE(rs.Matches(far) && rs.Matches(g) && !rs.Differs(s));
}
