// Blob outlines for the cblob tool: chain codes into corner lists, contour
// CSV and GeoJSON files, and the boundary pixels the overlay draws.
#include "blob_outlines.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace tool {
namespace {

const int kDx[4] = {1, -1, 0, 0}, kDy[4] = {0, 0, 1, -1};

// Staged files: (temporary, final path).
std::vector<std::pair<std::string, std::string>> &staged() {
    static std::vector<std::pair<std::string, std::string>> files;
    return files;
}

void removeStaged() {
    for (const auto &f : staged()) std::remove(f.first.c_str());
    staged().clear();
}

// Opens the temporary file of `path` for writing and stages it.
FILE *openStaged(const std::string &path, std::string *error) {
    static bool registered = false;
    if (!registered) {
        // The list is constructed before the handler is registered, so that
        // at exit the handler runs while the list still exists (exit runs
        // handlers and static destructors in the reverse order of their
        // registration).
        staged();
        std::atexit(removeStaged);
        registered = true;
    }
    const std::string temporary = path + ".tmp";
    FILE *file = std::fopen(temporary.c_str(), "w");
    if (!file) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    staged().emplace_back(temporary, path);
    return file;
}

// Closes a staged file; false (with the reason) when anything failed to
// reach it.
bool closeStaged(FILE *file, const std::string &path, std::string *error) {
    errno = 0;
    const bool ok = !std::ferror(file);
    const int written = errno;
    if (std::fclose(file) != 0 || !ok) {
        *error = "cannot write " + path + ": " + std::strerror(written ? written : errno ? errno : EIO);
        return false;
    }
    return true;
}

// The ring of an outline as GeoJSON coordinates, closed; reversed for an
// interior ring.
void writeRing(FILE *file, const Outline &outline, bool reversed) {
    std::vector<Corner> corners = outlineCorners(outline);
    if (reversed) {
        // The same corners the other way round, still from the first one.
        std::vector<Corner> back{corners.front()};
        for (size_t i = corners.size() - 1; i >= 1; --i) back.push_back(corners[i]);
        corners = back;
    }
    std::fputc('[', file);
    for (size_t i = 0; i <= corners.size(); ++i) {
        const Corner &c = corners[i % corners.size()];
        std::fprintf(file, "%s[%d, %d]", i ? ", " : "", c.x, c.y);
    }
    std::fputc(']', file);
}

}  // namespace

int32_t readOutline(cblob_blob *blob, Outline *out) {
    cstd_vector8 chain;
    int32_t status = cstd_vector8_constructEmpty(&chain);
    int32_t start[2] = {0, 0};
    if (!CBLOB_FAILED(status)) status = cblob_blob_getBoundaryChainCode(blob, start, &chain);
    if (!CBLOB_FAILED(status)) {
        const auto *codes = static_cast<const uint8_t *>(chain.untyped.begin);
        out->startX = start[0];
        out->startY = start[1];
        out->chain.assign(codes, codes + (chain.untyped.size > 0 ? chain.untyped.size - 1 : 0));
    }
    cstd_vector8_destruct(&chain);
    return status;
}

std::vector<Corner> outlineCorners(const Outline &outline) {
    std::vector<Corner> corners{{outline.startX, outline.startY}};
    int32_t x = outline.startX, y = outline.startY;
    for (size_t i = 0; i < outline.chain.size(); ++i) {
        if (i > 0 && outline.chain[i] != outline.chain[i - 1]) corners.push_back({x, y});
        x += kDx[outline.chain[i] & 3];
        y += kDy[outline.chain[i] & 3];
    }
    return corners;
}

std::string cornersJson(const std::vector<Corner> &corners) {
    std::string out = "[";
    char point[40];
    for (size_t i = 0; i < corners.size(); ++i) {
        std::snprintf(point, sizeof point, "%s[%d, %d]", i ? ", " : "", corners[i].x, corners[i].y);
        out += point;
    }
    return out + "]";
}

void forEachBoundaryPixel(const Outline &outline, const std::function<void(int32_t, int32_t)> &visit) {
    int32_t x = outline.startX, y = outline.startY;
    for (uint8_t code : outline.chain) {
        // The pixel on the right of the step (y down).
        switch (code & 3) {
            case 0: visit(x, y); break;
            case 1: visit(x - 1, y - 1); break;
            case 2: visit(x - 1, y); break;
            default: visit(x, y - 1); break;
        }
        x += kDx[code & 3];
        y += kDy[code & 3];
    }
}

bool stageGeoJson(const std::string &path, const std::vector<GeoFeature> &features, std::string *error) {
    FILE *file = openStaged(path, error);
    if (!file) return false;
    std::fputs("{\"type\": \"FeatureCollection\", \"features\": [", file);
    for (size_t i = 0; i < features.size(); ++i) {
        const GeoFeature &f = features[i];
        std::fprintf(file, "%s\n  {\"type\": \"Feature\", \"geometry\": {\"type\": \"Polygon\", \"coordinates\": [",
                     i ? "," : "");
        writeRing(file, f.outer, false);
        for (const Outline &hole : f.holes) {
            std::fputs(", ", file);
            writeRing(file, hole, true);
        }
        std::fprintf(file, "]}, \"properties\": {%s}}", f.properties.c_str());
    }
    std::fputs(features.empty() ? "]}\n" : "\n]}\n", file);
    return closeStaged(file, path, error);
}

bool stageContoursCsv(const std::string &path, const std::vector<ContourRow> &rows, std::string *error) {
    FILE *file = openStaged(path, error);
    if (!file) return false;
    std::fputs("file,label,point,x,y\n", file);
    for (const ContourRow &row : rows) {
        std::string name = row.file;
        if (name.find_first_of(",\"\n") != std::string::npos) {
            std::string quoted = "\"";
            for (char c : name) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
            name = quoted + "\"";
        }
        for (size_t i = 0; i < row.corners.size(); ++i)
            std::fprintf(file, "%s,%d,%zu,%d,%d\n", name.c_str(), row.label, i, row.corners[i].x, row.corners[i].y);
    }
    return closeStaged(file, path, error);
}

bool commitOutputs(std::string *error) {
    for (const auto &f : staged()) {
        if (std::rename(f.first.c_str(), f.second.c_str()) != 0) {
            *error = "cannot write " + f.second + ": " + std::strerror(errno);
            return false;  // the exit handler removes what is left
        }
    }
    staged().clear();
    return true;
}

}  // namespace tool
