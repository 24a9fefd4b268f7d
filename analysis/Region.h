#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A stretch of the song (times in ms) with one feature value, and a match
// test on which the structure labelling rests. Each step that finds regions
// keeps them in its own list, in time order, one kind per list.
class Region {
public:
    Region(double startMs, double lengthMs, double value = 0.0)
        : start_(startMs), length_(lengthMs), value_(value) {}
    virtual ~Region() = default;

    // Whether this region and `other` belong to the same kind of passage.
    virtual bool Matches(const Region& other) const = 0;
    bool Differs(const Region& other) const { return !Matches(other); }

    double Start() const { return start_; }
    double Length() const { return length_; }
    void SetLength(double lengthMs) { length_ = lengthMs; }
    double Value() const { return value_; }
    bool Labelled() const { return labelled_; }
    void SetLabelled(bool on) { labelled_ = on; }
    int32_t Label() const { return label_; }
    void SetLabel(int32_t letter) { label_ = letter; }

private:
    double start_;
    double length_;
    bool labelled_ = false;
    int32_t label_ = 0;  // letter of the phrase this region begins, or 0
    double value_;
};

// Destroying the list (clear() or going out of scope) deletes its regions.
using RegionList = std::vector<std::unique_ptr<Region>>;

// A run of segments that repeat one another (the rhythm-regions step); any
// two such runs count as the same kind of passage.
class RSRegion : public Region {
public:
    RSRegion(double startMs, double periodMs) : Region(startMs, 0.0), period_(periodMs) {}
    bool Matches(const Region&) const override { return true; }

    int32_t Count() const { return count_; }
    void AddSegment() { ++count_; }
    double Period() const { return period_; }

private:
    int32_t count_ = 0;
    double period_;  // segment length, ms
};

// Regions compared by value (within 0.12) and length (within 2000 ms).
class ValueRegion : public Region {
public:
    using Region::Region;
    bool Matches(const Region& other) const override;

    std::array<double, 400> bands{};  // per-band figures of the step that made it
};

class GGRegion : public ValueRegion {
public:
    using ValueRegion::ValueRegion;
};

class SCRegion : public ValueRegion {
public:
    using ValueRegion::ValueRegion;
};

// The song's structure as one letter per phrase, equal letters marking
// phrases that repeat (see Region.cpp). At most 128 letters; sets the
// labelled flag and label of the regions it assigns.
std::string LabelRegions(RegionList& regions);
