// Helpers for the end-to-end tests of the `cblob` command: a scratch
// folder, running the tool with its output captured, reading files back,
// and writing PGM inputs.
#ifndef CBLOB_TESTS_TOOL_SUPPORT_HPP
#define CBLOB_TESTS_TOOL_SUPPORT_HPP

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace tooltest {

// A fresh folder under /tmp, removed with everything in it on destruction.
struct Scratch {
    std::string dir;
    Scratch() {
        char pattern[] = "/tmp/cblob_tool_test_XXXXXX";
        dir = mkdtemp(pattern);
    }
    ~Scratch() { std::system(("rm -rf " + dir).c_str()); }
    Scratch(const Scratch &) = delete;
    Scratch &operator=(const Scratch &) = delete;
    std::string path(const std::string &name) const { return dir + "/" + name; }
};

struct Outcome {
    int exitCode;
    std::string out, err;
};

inline std::string slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The exit code of a shell command (-1 when it did not exit).
inline int shell(const std::string &command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs the tool in `dir` (the current one unless given) with stdout sent to
// `stdoutPath` (the scratch file "stdout" unless given) and stderr to the
// scratch file "stderr"; `out` is what reached the scratch file "stdout".
inline Outcome runTool(const Scratch &scratch, const std::string &arguments, const std::string &stdoutPath = "",
                       const std::string &dir = "") {
    const std::string out = stdoutPath.empty() ? scratch.path("stdout") : stdoutPath;
    std::remove(scratch.path("stdout").c_str());
    const int code = shell((dir.empty() ? "" : "cd " + dir + " && ") + std::string(CBLOB_TOOL_PATH) + " " + arguments +
                           " >" + out + " 2>" + scratch.path("stderr"));
    return {code, slurp(scratch.path("stdout")), slurp(scratch.path("stderr"))};
}

inline bool exists(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

inline std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> out;
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// A binary PGM of the pixels, row after row (two bytes a pixel when
// maxValue > 255).
inline void writePgm(const std::string &path, const std::vector<uint16_t> &pixels, int width, int height,
                     int maxValue) {
    std::ofstream out(path, std::ios::binary);
    out << "P5\n" << width << " " << height << "\n" << maxValue << "\n";
    for (uint16_t v : pixels) {
        if (maxValue > 255) out.put(static_cast<char>(v >> 8));
        out.put(static_cast<char>(v & 0xFF));
    }
}

}  // namespace tooltest

#endif
