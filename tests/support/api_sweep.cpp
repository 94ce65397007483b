#include "support/api_sweep.hpp"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "cblob/status.h"
#include "cblob/sys.h"
#include "support/fault_injection.hpp"

namespace cblobtest::sweep {

namespace {
struct NoAllocationTally {
    int64_t scopes = 0, attempts = 0;
} tally;

std::vector<Group> &registry() {
    static std::vector<Group> all;
    return all;
}
}  // namespace

Registrar::Registrar(const char *name, std::vector<Row> (*rows)()) { registry().push_back(Group{name, rows}); }

const std::vector<Group> &groups() { return registry(); }

std::vector<std::string> named(const std::string &prefix, std::initializer_list<const char *> suffixes) {
    std::vector<std::string> out;
    for (const char *s : suffixes) out.push_back(prefix + "_" + s);
    return out;
}

int32_t withoutAllocating(const std::function<int32_t()> &f) {
    csys_memory_failAfter(1, 1);
    const int32_t status = f();
    tally.attempts += csys_memory_getInjectedFailureCount();
    csys_memory_failAfter(0, 0);
    ++tally.scopes;
    return status;
}

void sweepRow(const Row &row) {
    SCOPED_TRACE(row.functions.empty() ? std::string("(no function)") : row.functions.front());
    const int64_t before = csys_memory_getLiveBlockCount();
    switch (row.effect) {
        case Effect::Allocates: {
            const FaultInjectionReport report = expectCleanUnderAllocationFailures(row.call);
            EXPECT_GT(report.allocationsSeen, 0) << "the row allocates nothing: tag it NoAllocation";
            if (std::getenv("CBLOB_SWEEP_VERBOSE"))
                std::printf("%-60s %5lld allocations\n", row.functions.front().c_str(),
                            static_cast<long long>(report.allocationsSeen));
            break;
        }
        case Effect::NoAllocation: {
            tally = NoAllocationTally{};
            const int32_t status = row.call();
            EXPECT_EQ(status, 0) << cblob_statusName(status);
            EXPECT_GT(tally.scopes, 0) << "the row makes no call inside withoutAllocating";
            EXPECT_EQ(tally.attempts, 0) << "the row allocates: tag it Allocates";
            EXPECT_EQ(csys_memory_getLiveBlockCount(), before);
            break;
        }
        case Effect::Excluded:
            EXPECT_FALSE(row.why.empty()) << "an excluded row says why";
            break;
    }
}

std::vector<std::string> declaredFunctions(const std::string &text) {
    // CBLOB_API expands to this attribute; the function's name is the
    // identifier right before the first parenthesis after it. A declaration
    // that ends before any parenthesis is an exported variable, not a function.
    static const std::string kMarker = "visibility(\"default\")))";
    std::vector<std::string> names;
    for (size_t at = text.find(kMarker); at != std::string::npos; at = text.find(kMarker, at + 1)) {
        size_t paren = text.find('(', at + kMarker.size());
        if (paren == std::string::npos) break;
        if (text.find(';', at + kMarker.size()) < paren) continue;
        size_t end = paren;
        while (end > 0 && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
        size_t begin = end;
        while (begin > 0 && (std::isalnum(static_cast<unsigned char>(text[begin - 1])) || text[begin - 1] == '_'))
            --begin;
        names.push_back(text.substr(begin, end - begin));
    }
    return names;
}

}  // namespace cblobtest::sweep
