// Filters and the sort of a result set's view against a reference built here
// from the plain blob list: which blobs stay (OR inside a measure, AND
// across measures, include and exclude ranges), the order the heapsort
// leaves (equal keys included), the current child lists and top-level chain
// that go with the view; removing filters and the sort; the statuses; and a
// result set left as it was by every call that fails, under measure
// failures and allocation faults.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "cblob/cblob.h"
#include "support/run_support.hpp"

namespace {

// ------------------------------------------------------------- reference

// The value of a record measure of a blob, read from the plain fields.
double field(const cblob_blob *b, int32_t measure) {
    switch (measure) {
        case cblob_measureColour: return b->colour;
        case cblob_measureArea: return b->area;
        case cblob_measureNumChildren: return b->numChildren;
        case cblob_measureCenterOfMassX: return b->centerOfMassX;
        case cblob_measureCenterOfMassY: return b->centerOfMassY;
        case cblob_measureElongation: return b->elongation;
        case cblob_measureBoxLeft: return b->boxLeft;
        case cblob_measureBoxTop: return b->boxTop;
        case cblob_measureBoxWidth: return b->boxWidth;
        case cblob_measureBoxHeight: return b->boxHeight;
        case cblob_measureBoxRight: return b->boxLeft + b->boxWidth;
        default: ADD_FAILURE() << "no field for measure " << measure; return 0;
    }
}

// The heapsort as a textbook writes it, 0-based: a max-heap (min-heap when
// descending) built bottom-up, the root swapped behind the heap, the moved
// element sunk again.
void referenceHeapsort(std::vector<std::pair<double, const cblob_blob *>> &a, bool ascending) {
    const size_t n = a.size();
    if (n < 2) return;
    // a[i] sorts after a[j] in the heap order.
    auto above = [&](double x, double y) { return ascending ? x > y : x < y; };
    auto sink = [&](std::pair<double, const cblob_blob *> item, size_t hole, size_t end) {
        size_t child = 2 * hole + 1;
        while (child < end) {
            if (child + 1 < end && above(a[child + 1].first, a[child].first)) ++child;
            if (!above(a[child].first, item.first)) break;
            a[hole] = a[child];
            hole = child;
            child = 2 * hole + 1;
        }
        a[hole] = item;
    };
    for (size_t i = n / 2; i-- > 0;) sink(a[i], i, n);
    for (size_t end = n - 1; end > 0; --end) {
        const auto item = a[end];
        a[end] = a[0];
        sink(item, 0, end);
    }
}

std::vector<const cblob_blob *> sortedBy(std::vector<const cblob_blob *> blobs, int32_t measure, bool ascending) {
    std::vector<std::pair<double, const cblob_blob *>> keyed;
    for (const cblob_blob *b : blobs) keyed.push_back({field(b, measure), b});
    referenceHeapsort(keyed, ascending);
    blobs.clear();
    for (const auto &k : keyed) blobs.push_back(k.second);
    return blobs;
}

struct Filter {
    int32_t measure;
    double low, high;
    bool exclude;
};

// One call's filters: OR among those of one measure, AND across measures.
bool keepsCall(const cblob_blob *b, const std::vector<Filter> &filters) {
    std::map<int32_t, bool> groupPasses;
    for (const Filter &f : filters) {
        const double v = field(b, f.measure);
        const bool in = f.low <= v && v <= f.high;
        groupPasses[f.measure] = groupPasses[f.measure] || (f.exclude ? !in : in);
    }
    for (const auto &g : groupPasses)
        if (!g.second) return false;
    return true;
}

// What the view and the current links should be: the blobs that the filters
// keep, in run order or sorted; every kept blob's current children are its
// labelled children that are kept, in labelled order or sorted when it has
// more than one labelled child; the top-level chain likewise.
struct Expected {
    std::vector<const cblob_blob *> view, top;
    std::map<const cblob_blob *, std::vector<const cblob_blob *>> children;
};

// `calls`: the filters of each call that added some; each call narrows the
// view further.
Expected expectedView(const cblob_resultSet &rs, const std::vector<std::vector<Filter>> &calls,
                      int32_t sortMeasure = 0, bool ascending = true) {
    auto keeps = [&](const cblob_blob *b) {
        for (const auto &call : calls)
            if (!keepsCall(b, call)) return false;
        return true;
    };
    Expected e;
    std::vector<const cblob_blob *> all(rs.allBlobs, rs.allBlobs + rs.numBlobs);
    for (const cblob_blob *b : all)
        if (keeps(b)) e.view.push_back(b);
    for (const cblob_blob *b = rs.firstTopLevelBlob; b; b = b->nextSibling)
        if (keeps(b)) e.top.push_back(b);
    for (const cblob_blob *p : all) {
        std::vector<const cblob_blob *> kids;
        for (const cblob_blob *c = p->firstChild; c; c = c->nextSibling)
            if (keeps(c)) kids.push_back(c);
        e.children[p] = kids;
    }
    if (sortMeasure != 0) {
        e.view = sortedBy(e.view, sortMeasure, ascending);
        e.top = sortedBy(e.top, sortMeasure, ascending);
        for (const cblob_blob *p : e.view)
            if (p->numChildren > 1) e.children[p] = sortedBy(e.children[p], sortMeasure, ascending);
    }
    return e;
}

// ------------------------------------------------------ observed state

std::vector<int32_t> labels(const std::vector<const cblob_blob *> &blobs) {
    std::vector<int32_t> out;
    for (const cblob_blob *b : blobs) out.push_back(b->label);
    return out;
}

std::vector<const cblob_blob *> currentChain(const cblob_blob *first) {
    std::vector<const cblob_blob *> out;
    for (const cblob_blob *b = first; b; b = b->curNextSibling) {
        out.push_back(b);
        if (out.size() > 100000) break;  // a cycle
    }
    return out;
}

// The view and the links of the view's blobs agree with the expectation,
// and each current list is doubly linked with a matching count.
void expectView(const cblob_resultSet &rs, const Expected &e) {
    EXPECT_EQ(labels({rs.view, rs.view + rs.numViewBlobs}), labels(e.view));
    EXPECT_EQ(labels(currentChain(rs.viewFirstTopLevelBlob)), labels(e.top));
    if (rs.viewFirstTopLevelBlob) {
        EXPECT_EQ(rs.viewFirstTopLevelBlob->curPrevSibling, nullptr);
    }
    for (int32_t i = 0; i < rs.numViewBlobs; ++i) {
        const cblob_blob *p = rs.view[i];
        const std::vector<const cblob_blob *> kids = currentChain(p->curFirstChild);
        ASSERT_EQ(labels(kids), labels(e.children.at(p))) << "children of blob " << p->label;
        EXPECT_EQ(p->curNumChildren, static_cast<int32_t>(kids.size()));
        EXPECT_EQ(p->curLastChild, kids.empty() ? nullptr : kids.back());
        for (size_t k = 0; k < kids.size(); ++k) {
            EXPECT_EQ(kids[k]->curPrevSibling, k ? kids[k - 1] : nullptr);
            EXPECT_EQ(kids[k]->parent, p);
        }
    }
}

// Everything a filter or sort call may change, by label.
struct State {
    std::vector<int32_t> view;
    int32_t head = 0;
    std::vector<std::vector<int32_t>> links;
    std::vector<std::vector<double>> filters;
    int32_t sortMeasure = 0, sortDirection = 0;
    std::vector<std::vector<double>> fields;
    bool operator==(const State &o) const {
        return view == o.view && head == o.head && links == o.links && filters == o.filters &&
               sortMeasure == o.sortMeasure && sortDirection == o.sortDirection && fields == o.fields;
    }
    bool operator!=(const State &o) const { return !(*this == o); }
};

int32_t labelOf(const cblob_blob *b) { return b ? b->label : 0; }

State stateOf(const cblob_resultSet &rs) {
    State s;
    for (int32_t i = 0; i < rs.numViewBlobs; ++i) s.view.push_back(rs.view[i]->label);
    s.head = labelOf(rs.viewFirstTopLevelBlob);
    for (int32_t i = 0; i < rs.numBlobs; ++i) {
        const cblob_blob *b = rs.allBlobs[i];
        s.links.push_back({b->curNumChildren, labelOf(b->curFirstChild), labelOf(b->curLastChild),
                           labelOf(b->curNextSibling), labelOf(b->curPrevSibling)});
        const cmath_xformLinear &x = *b->clientFromImage;
        s.fields.push_back({b->area, b->centerOfMassX, b->centerOfMassY, b->inertiaX, b->inertiaY, b->inertiaMin,
                            b->inertiaMax, b->elongation, b->angle, x.matrix.m00, x.matrix.m01, x.matrix.m10,
                            x.matrix.m11, x.tx, x.ty});
    }
    int32_t n = 0;
    const cblob_filter *stored = nullptr;
    EXPECT_EQ(cblob_resultSet_getNumFilters(&rs, &n), 0);
    EXPECT_EQ(cblob_resultSet_getFilters(&rs, &stored), 0);
    for (int32_t i = 0; i < n; ++i)
        s.filters.push_back({1.0 * stored[i].measure, stored[i].low, stored[i].high, 1.0 * stored[i].excludeRange});
    EXPECT_EQ(cblob_resultSet_getSort(&rs, &s.sortMeasure, &s.sortDirection), 0);
    return s;
}

// ------------------------------------------------------------- the run

// Twelve tiles: squares pierced by random holes, and rings holding random
// specks; the squares' holes and the rings' specks give parents with many
// children, the tiles a top-level chain. Many blobs share an area, a box
// width or a box top, so sorts meet equal keys.
class Scene {
public:
    Scene() : image_(kWidth, kHeight, 8, values(), 3, 2) {
        EXPECT_EQ(cblob_runParams_setSegmentationHardThresh(&params_.p, 128, 0), 0);
        EXPECT_EQ(cblob_run8(image_.image(), nullptr, &params_.p, &results_.rs), 0);
    }
    const cblob_resultSet &rs() const { return results_.rs; }
    // A fresh copy that a test may filter and sort.
    int32_t copyInto(cblob_resultSet *dst) const { return cblob_resultSet_assign(dst, &results_.rs); }

private:
    static constexpr int kWidth = 82, kHeight = 62;
    static std::vector<uint16_t> values() {
        std::mt19937 rng(11);
        std::vector<uint16_t> v(kWidth * kHeight, 0);
        auto set = [&](int x, int y) { v[static_cast<size_t>(y) * kWidth + x] = 200; };
        for (int ty = 0; ty < 3; ++ty) {
            for (int tx = 0; tx < 4; ++tx) {
                const int x0 = tx * 20 + 2, y0 = ty * 20 + 2;
                for (int y = 0; y < 16; ++y) {
                    for (int x = 0; x < 16; ++x) {
                        const bool border = x < 2 || y < 2 || x >= 14 || y >= 14;
                        const bool inside = (tx + ty) % 2 == 0 ? rng() % 10 >= 3 : rng() % 4 == 0;
                        if (border || inside) set(x0 + x, y0 + y);
                    }
                }
            }
        }
        return v;
    }
    runtest::GreyImage image_;
    runtest::Params params_;
    runtest::Results results_;
};

const Scene &scene() {
    static const Scene s;
    return s;
}

cblob_filter filterOf(const Filter &f) { return cblob_filter{f.measure, f.low, f.high, f.exclude ? 1 : 0}; }

int32_t addFilters(cblob_resultSet *rs, const std::vector<Filter> &filters) {
    cstd_vector_cblob_filter v;
    int32_t status = cstd_vector_cblob_filter_constructEmpty(&v);
    if (CBLOB_FAILED(status)) return status;
    for (const Filter &f : filters) {
        const cblob_filter c = filterOf(f);
        if (!CBLOB_FAILED(status)) status = cstd_vector_cblob_filter_pushBack(&v, &c);
    }
    if (!CBLOB_FAILED(status)) status = cblob_resultSet_setAndApplyFilters(rs, &v);
    cstd_vector_cblob_filter_destruct(&v);
    return status;
}

// Filter sets: include and exclude ranges, two ranges of one measure, ranges
// of several measures, an exclusion of one exact value.
const std::vector<std::vector<Filter>> &filterSets() {
    static const std::vector<std::vector<Filter>> sets = {
        {{cblob_measureArea, 3, 20, false}},
        {{cblob_measureArea, 3, 20, true}},
        {{cblob_measureArea, 1, 2, false}, {cblob_measureArea, 10, 1e9, false}},
        {{cblob_measureColour, 1, 1, false}, {cblob_measureBoxWidth, 2, 5, false}},
        {{cblob_measureBoxTop, 10, 20, false}, {cblob_measureArea, 2, 2, true}, {cblob_measureBoxTop, 0, 3, false},
         {cblob_measureCenterOfMassX, 12.5, 40, false}},
        {{cblob_measureArea, 1, 1, true}},
        {{cblob_measureNumChildren, 1, 1e9, false}},
        {{cblob_measureArea, -5, -1, false}},  // keeps nothing
    };
    return sets;
}

TEST(FilterSort, SceneHasTreesAndEqualKeys) {
    const cblob_resultSet &rs = scene().rs();
    ASSERT_GT(rs.numBlobs, 40);
    std::map<double, int> areas;
    int parents = 0, top = 0;
    for (const cblob_blob *b = rs.firstTopLevelBlob; b; b = b->nextSibling) ++top;
    for (int32_t i = 0; i < rs.numBlobs; ++i) {
        ++areas[rs.allBlobs[i]->area];
        parents += rs.allBlobs[i]->numChildren > 1;
    }
    EXPECT_LT(areas.size() * 2, static_cast<size_t>(rs.numBlobs));
    EXPECT_GT(parents, 2);
    EXPECT_GT(top, 2);
}

TEST(FilterSort, FiltersKeepWhatTheReferenceKeeps) {
    for (bool oneByOne : {false, true}) {
        for (const auto &filters : filterSets()) {
            SCOPED_TRACE(std::to_string(filters.size()) + " filters" + (oneByOne ? ", one by one" : ""));
            runtest::Results r;
            ASSERT_EQ(scene().copyInto(&r.rs), 0);
            if (oneByOne) {
                for (const Filter &f : filters) ASSERT_EQ(cblob_resultSet_addAndApplyFilter(&r.rs, filterOf(f)), 0);
            } else {
                ASSERT_EQ(addFilters(&r.rs, filters), 0);
            }
            std::vector<std::vector<Filter>> calls;
            if (oneByOne) {
                for (const Filter &f : filters) calls.push_back({f});
            } else {
                calls.push_back(filters);
            }
            expectView(r.rs, expectedView(r.rs, calls));
            EXPECT_EQ(stateOf(r.rs).filters.size(), filters.size());
            // Applied again together (after the sort is removed), stored
            // filters of one measure are alternatives.
            ASSERT_EQ(cblob_resultSet_sort(&r.rs, cblob_measureArea, 1), 0);
            ASSERT_EQ(cblob_resultSet_disableSort(&r.rs), 0);
            expectView(r.rs, expectedView(r.rs, {filters}));
        }
    }
}

TEST(FilterSort, SortOrdersLikeTheHeapsortWithEqualKeys) {
    for (int32_t measure : {cblob_measureArea, cblob_measureBoxWidth, cblob_measureBoxTop, cblob_measureColour,
                            cblob_measureCenterOfMassX, cblob_measureNumChildren}) {
        for (int32_t direction : {1, 0}) {
            SCOPED_TRACE("measure " + std::to_string(measure) + " direction " + std::to_string(direction));
            runtest::Results r;
            ASSERT_EQ(scene().copyInto(&r.rs), 0);
            ASSERT_EQ(cblob_resultSet_sort(&r.rs, measure, direction), 0);
            const Expected e = expectedView(r.rs, {}, measure, direction == 1);
            expectView(r.rs, e);
            for (size_t i = 1; i < e.view.size(); ++i) {
                const double a = field(e.view[i - 1], measure), b = field(e.view[i], measure);
                EXPECT_TRUE(direction == 1 ? a <= b : a >= b);
            }
            // The heapsort does not keep run order among equal keys: the
            // expectation is not simply a stable sort.
            State s = stateOf(r.rs);
            EXPECT_EQ(s.sortMeasure, measure);
            EXPECT_EQ(s.sortDirection, direction);
            // Sorting again by the same key changes nothing.
            ASSERT_EQ(cblob_resultSet_sort(&r.rs, measure, direction), 0);
            EXPECT_EQ(stateOf(r.rs), s);
        }
    }
}

TEST(FilterSort, HeapsortIsNotStable) {
    // On the scene's areas some equal keys leave run order; a stable sort
    // would keep it, so the reference above is what pins the order.
    const cblob_resultSet &rs = scene().rs();
    std::vector<const cblob_blob *> all(rs.allBlobs, rs.allBlobs + rs.numBlobs);
    const std::vector<const cblob_blob *> sorted = sortedBy(all, cblob_measureArea, true);
    bool reordered = false;
    for (size_t i = 1; i < sorted.size(); ++i)
        reordered |= sorted[i - 1]->area == sorted[i]->area && sorted[i - 1]->label > sorted[i]->label;
    EXPECT_TRUE(reordered);
}

TEST(FilterSort, SortAndFilterInEitherOrder) {
    const std::vector<Filter> filters = {{cblob_measureArea, 2, 30, false}, {cblob_measureBoxTop, 5, 30, false}};
    for (int32_t measure : {cblob_measureCenterOfMassX, cblob_measureArea}) {
        runtest::Results sortFirst, filterFirst;
        ASSERT_EQ(scene().copyInto(&sortFirst.rs), 0);
        ASSERT_EQ(scene().copyInto(&filterFirst.rs), 0);
        ASSERT_EQ(cblob_resultSet_sort(&sortFirst.rs, measure, 0), 0);
        ASSERT_EQ(addFilters(&sortFirst.rs, filters), 0);
        ASSERT_EQ(addFilters(&filterFirst.rs, filters), 0);
        ASSERT_EQ(cblob_resultSet_sort(&filterFirst.rs, measure, 0), 0);
        // The same blobs with the same key sequence; with distinct keys
        // (the centres of mass here) the very same order and links.
        std::vector<double> keysA, keysB;
        std::multiset<int32_t> setA, setB;
        for (int32_t i = 0; i < sortFirst.rs.numViewBlobs; ++i) {
            keysA.push_back(field(sortFirst.rs.view[i], measure));
            setA.insert(sortFirst.rs.view[i]->label);
        }
        for (int32_t i = 0; i < filterFirst.rs.numViewBlobs; ++i) {
            keysB.push_back(field(filterFirst.rs.view[i], measure));
            setB.insert(filterFirst.rs.view[i]->label);
        }
        EXPECT_EQ(keysA, keysB);
        EXPECT_EQ(setA, setB);
        const Expected e = expectedView(filterFirst.rs, {filters}, measure, false);
        expectView(filterFirst.rs, e);
        const std::set<double> distinct(keysA.begin(), keysA.end());
        if (distinct.size() == keysA.size()) expectView(sortFirst.rs, e);
    }
}

TEST(FilterSort, UnsetAndClearRestoreThePreviousView) {
    const std::vector<Filter> first = {{cblob_measureArea, 2, 40, false}};
    const std::vector<Filter> second = {{cblob_measureBoxLeft, 0, 20, true}, {cblob_measureColour, 0, 0, false}};
    for (int32_t sortMeasure : {0, static_cast<int>(cblob_measureArea)}) {
        SCOPED_TRACE("sort " + std::to_string(sortMeasure));
        runtest::Results r;
        ASSERT_EQ(scene().copyInto(&r.rs), 0);
        const State unfiltered = stateOf(r.rs);
        ASSERT_EQ(addFilters(&r.rs, first), 0);
        ASSERT_EQ(cblob_resultSet_sort(&r.rs, sortMeasure, 1), 0);
        const State before = stateOf(r.rs);
        ASSERT_EQ(addFilters(&r.rs, second), 0);
        ASSERT_NE(stateOf(r.rs).view, before.view);
        ASSERT_EQ(cblob_resultSet_unsetFilter(&r.rs, cblob_measureBoxLeft), 0);
        ASSERT_EQ(cblob_resultSet_unsetFilter(&r.rs, cblob_measureColour), 0);
        EXPECT_EQ(stateOf(r.rs), before);
        // A measure without filters, and measure 0, change nothing.
        ASSERT_EQ(cblob_resultSet_unsetFilter(&r.rs, cblob_measureElongation), 0);
        ASSERT_EQ(cblob_resultSet_unsetFilter(&r.rs, 0), 0);
        EXPECT_EQ(stateOf(r.rs), before);
        // Clearing gives every blob back, sorted by the stored sort.
        ASSERT_EQ(cblob_resultSet_clearFilters(&r.rs), 0);
        expectView(r.rs, expectedView(r.rs, {}, sortMeasure, true));
        // Without a sort that is the state of the fresh run.
        if (sortMeasure == 0) {
            EXPECT_EQ(stateOf(r.rs), unfiltered);
        }
        ASSERT_EQ(cblob_resultSet_disableSort(&r.rs), 0);
        EXPECT_EQ(stateOf(r.rs).view, unfiltered.view);
        EXPECT_EQ(stateOf(r.rs).links, unfiltered.links);
    }
}

TEST(FilterSort, DisableSortKeepsFiltersAndDirection) {
    const std::vector<Filter> filters = {{cblob_measureArea, 1, 1, true}, {cblob_measureBoxHeight, 2, 9, false}};
    runtest::Results r;
    ASSERT_EQ(scene().copyInto(&r.rs), 0);
    ASSERT_EQ(cblob_resultSet_sort(&r.rs, cblob_measureBoxWidth, 0), 0);
    ASSERT_EQ(addFilters(&r.rs, filters), 0);
    ASSERT_EQ(cblob_resultSet_disableSort(&r.rs), 0);
    expectView(r.rs, expectedView(r.rs, {filters}));
    State s = stateOf(r.rs);
    EXPECT_EQ(s.sortMeasure, 0);
    EXPECT_EQ(s.sortDirection, 0);
    EXPECT_EQ(s.filters.size(), 2u);
    // Sorting by measure 0 is the same as disabling.
    ASSERT_EQ(cblob_resultSet_sort(&r.rs, cblob_measureArea, 1), 0);
    ASSERT_EQ(cblob_resultSet_sort(&r.rs, 0, 1), 0);
    expectView(r.rs, expectedView(r.rs, {filters}));
}

TEST(FilterSort, SmallViewsOnlyRecordTheSort) {
    // One blob left: the sort is stored; removing the filter sorts with it.
    const cblob_resultSet &base = scene().rs();
    const cblob_blob *largest = base.allBlobs[0];
    for (int32_t i = 0; i < base.numBlobs; ++i)
        if (base.allBlobs[i]->area > largest->area) largest = base.allBlobs[i];
    runtest::Results r;
    ASSERT_EQ(scene().copyInto(&r.rs), 0);
    ASSERT_EQ(addFilters(&r.rs, {{cblob_measureArea, largest->area, largest->area, false}}), 0);
    ASSERT_EQ(r.rs.numViewBlobs, 1);
    ASSERT_EQ(cblob_resultSet_sort(&r.rs, cblob_measureBoxTop, 0), 0);
    State s = stateOf(r.rs);
    EXPECT_EQ(s.sortMeasure, cblob_measureBoxTop);
    EXPECT_EQ(s.sortDirection, 0);
    ASSERT_EQ(cblob_resultSet_unsetFilter(&r.rs, cblob_measureArea), 0);
    expectView(r.rs, expectedView(r.rs, {}, cblob_measureBoxTop, false));
    // A set that never ran: everything succeeds on the empty view.
    runtest::Results empty;
    ASSERT_EQ(cblob_resultSet_addAndApplyFilter(&empty.rs, {cblob_measureArea, 1, 2, 0}), 0);
    ASSERT_EQ(cblob_resultSet_sort(&empty.rs, cblob_measureArea, 0), 0);
    ASSERT_EQ(cblob_resultSet_clearFilters(&empty.rs), 0);
    ASSERT_EQ(cblob_resultSet_disableSort(&empty.rs), 0);
    EXPECT_EQ(empty.rs.numViewBlobs, 0);
}

TEST(FilterSort, RefusedArgumentsChangeNothing) {
    runtest::Results r;
    ASSERT_EQ(scene().copyInto(&r.rs), 0);
    ASSERT_EQ(addFilters(&r.rs, {{cblob_measureArea, 2, 50, false}}), 0);
    ASSERT_EQ(cblob_resultSet_sort(&r.rs, cblob_measureArea, 1), 0);
    const State before = stateOf(r.rs);
    const double nan = std::nan("");
    const struct {
        cblob_filter f;
    } badFilters[] = {{{0, 1, 2, 0}}, {{48, 1, 2, 0}}, {{-1, 1, 2, 0}}, {{2, 3, 2, 0}}, {{2, nan, 2, 0}}, {{2, 1, nan, 1}}};
    for (const auto &c : badFilters) {
        EXPECT_EQ(cblob_resultSet_addAndApplyFilter(&r.rs, c.f), cblob_err_badMeasure);
    }
    // A vector with a refused filter after good ones stores none of them.
    EXPECT_EQ(addFilters(&r.rs, {{cblob_measureBoxTop, 0, 9, false}, {cblob_measureArea, 9, 1, false}}),
              cblob_err_badMeasure);
    EXPECT_EQ(cblob_resultSet_sort(&r.rs, cblob_measureArea, 2), cblob_err_badSortOrder);
    EXPECT_EQ(cblob_resultSet_sort(&r.rs, 48, 1), cblob_err_badMeasure);
    EXPECT_EQ(cblob_resultSet_sort(&r.rs, -1, 2), cblob_err_badSortOrder);  // direction first
    EXPECT_EQ(cblob_resultSet_unsetFilter(&r.rs, 48), cblob_err_badMeasure);
    EXPECT_EQ(stateOf(r.rs), before);
}

TEST(FilterSort, MeasureFailuresLeaveTheResultSetAsItWas) {
    // Box and boundary measures need the blobs' runs, which this run did not
    // keep.
    runtest::Results r;
    ASSERT_EQ(scene().copyInto(&r.rs), 0);
    ASSERT_EQ(addFilters(&r.rs, {{cblob_measureArea, 2, 50, false}}), 0);
    ASSERT_EQ(cblob_resultSet_sort(&r.rs, cblob_measureBoxTop, 1), 0);
    const State before = stateOf(r.rs);
    EXPECT_EQ(cblob_resultSet_addAndApplyFilter(&r.rs, {cblob_measureAngleBoxWidth, 0, 3, 0}),
              cblob_err_rleImageEmpty);
    EXPECT_EQ(addFilters(&r.rs, {{cblob_measureBoxTop, 0, 30, false}, {cblob_measurePerimeter, 0, 9, false}}),
              cblob_err_rleImageEmpty);
    EXPECT_EQ(cblob_resultSet_sort(&r.rs, cblob_measurePrincipalBoxWidth, 0), cblob_err_rleImageEmpty);
    EXPECT_EQ(stateOf(r.rs), before);
    // A sort that fails while re-applying after an unset leaves it too.
    r.rs.postProcessing->sortMeasure = cblob_measureAngleBoxHeight;  // as if stored on a set with runs
    const State planted = stateOf(r.rs);
    EXPECT_EQ(cblob_resultSet_unsetFilter(&r.rs, cblob_measureArea), cblob_err_rleImageEmpty);
    EXPECT_EQ(stateOf(r.rs), planted);
    EXPECT_EQ(cblob_resultSet_clearFilters(&r.rs), cblob_err_rleImageEmpty);
    EXPECT_EQ(stateOf(r.rs), planted);
}

}  // namespace
