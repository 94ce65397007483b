// Heapsort of (key, blob) pairs, 1-based. The heap is built by sifting down
// from the middle; then the top is exchanged with the last element of the
// heap, which shrinks by one, and the element moved to the top sinks again.
#include <cstdint>

#include "results/heapsort.hpp"

namespace cblob::results {

namespace {

// Ascending: the larger child is the one to follow, and the taken key stops
// sinking at a child no larger than itself. Descending mirrors both tests.
struct Ascending {
    static bool followRight(double left, double right) { return left < right; }
    static bool stops(double key, double child) { return child <= key; }
};
struct Descending {
    static bool followRight(double left, double right) { return right < left; }
    static bool stops(double key, double child) { return key <= child; }
};

template <class Order>
void heapsort(double *k, cblob_blob **b, int32_t n) {
    int32_t l = n / 2 + 1;
    int32_t r = n;
    for (;;) {
        double key;
        cblob_blob *blob;
        if (l > 1) {
            --l;
            key = k[l];
            blob = b[l];
        } else {
            key = k[r];
            blob = b[r];
            k[r] = k[1];
            b[r] = b[1];
            if (--r == 1) {
                k[1] = key;
                b[1] = blob;
                return;
            }
        }
        int64_t i = l;  // 64 bits: 2 * j may pass INT32_MAX
        int64_t j = 2 * static_cast<int64_t>(l);
        while (j <= r) {
            if (j < r && Order::followRight(k[j], k[j + 1])) ++j;
            if (Order::stops(key, k[j])) break;
            k[i] = k[j];
            b[i] = b[j];
            i = j;
            j = 2 * j;
        }
        k[i] = key;
        b[i] = blob;
    }
}

}  // namespace

void heapsortBlobs(double *keys, cblob_blob **blobs, int32_t n, bool ascending) {
    if (n < 2) return;
    if (ascending) {
        heapsort<Ascending>(keys, blobs, n);
    } else {
        heapsort<Descending>(keys, blobs, n);
    }
}

}  // namespace cblob::results
