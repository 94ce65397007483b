// The allocation-failure sweep over the whole public interface.
//
// Every function a public header declares belongs to exactly one row. A row
// names the functions it covers and says what calling them does to memory:
//   - Allocates: `call` builds what it needs, makes the calls, checks the
//     caller's objects (on failure they must be in the state the header
//     documents: unchanged, not constructed, null, ...), releases everything
//     and returns the first failing status. The sweep fails the N-th
//     allocation for N = 1, 2, ..., once and persistently: each time the
//     status must be csys_err_outOfMemory and nothing may leak. The
//     unhindered call must succeed and allocate at least once.
//   - NoAllocation: `call` builds what it needs and makes the calls under
//     test inside withoutAllocating(), which fails every allocation: they
//     must succeed without trying one.
//   - Excluded: `why` says why the sweep cannot call the functions (they
//     drive the failure injection itself, say).
// Rows files (tests/sweep/*_rows.cpp) register their rows under a group name
// with a static Registrar; api_sweep_test.cpp runs every group and checks
// that the rows cover the preprocessed public headers, and nothing else.
#ifndef CBLOB_TESTS_API_SWEEP_HPP
#define CBLOB_TESTS_API_SWEEP_HPP

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace cblobtest::sweep {

enum class Effect { Allocates, NoAllocation, Excluded };

struct Row {
    std::vector<std::string> functions;
    Effect effect;
    std::function<int32_t()> call;  // empty for Excluded
    std::string why;                // Excluded only
};

inline Row allocates(std::vector<std::string> functions, std::function<int32_t()> call) {
    return Row{std::move(functions), Effect::Allocates, std::move(call), {}};
}
inline Row noAllocation(std::vector<std::string> functions, std::function<int32_t()> call) {
    return Row{std::move(functions), Effect::NoAllocation, std::move(call), {}};
}
inline Row excluded(std::vector<std::string> functions, std::string why) {
    return Row{std::move(functions), Effect::Excluded, {}, std::move(why)};
}

struct Group {
    std::string name;
    std::vector<Row> (*rows)();  // built when the test runs, not at start-up
};

inline void PrintTo(const Group &group, std::ostream *out) { *out << group.name; }

// Registers a group; use at namespace scope: `const Registrar r{"name", &rows};`.
struct Registrar {
    Registrar(const char *name, std::vector<Row> (*rows)());
};

const std::vector<Group> &groups();

// Runs f with every allocation failing and notes whether f tried one.
int32_t withoutAllocating(const std::function<int32_t()> &f);

// Runs one row with the checks its effect asks for (GoogleTest assertions).
void sweepRow(const Row &row);

// Every function name the preprocessed public headers declare with CBLOB_API.
std::vector<std::string> declaredFunctions(const std::string &preprocessedHeaders);

// Names "prefix_" + each of the suffixes.
std::vector<std::string> named(const std::string &prefix, std::initializer_list<const char *> suffixes);

// The first failing status of a sequence of steps (0 when all succeed):
// `int32_t s = 0; s = first(s, step1()); ...` reads badly, so rows use
// Steps: steps.then([&]{ return f(); }) runs f only while nothing failed.
class Steps {
public:
    template <class F>
    Steps &then(F &&f) {
        if (status_ >= 0) status_ = f();
        return *this;
    }
    // Runs f whatever happened before (releasing), keeping the first failure.
    template <class F>
    Steps &always(F &&f) {
        const int32_t s = f();
        if (status_ >= 0 && s < 0) status_ = s;
        return *this;
    }
    bool ok() const { return status_ >= 0; }
    int32_t status() const { return status_; }

private:
    int32_t status_ = 0;
};

}  // namespace cblobtest::sweep

#endif
