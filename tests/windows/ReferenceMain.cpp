// Writes the snapshot of the Linux module that the Windows tests compare the
// DLL with (Snapshot.h).
//
//   wine_reference <plugin module> <output file>
#include <cstdio>

#include "Snapshot.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <plugin module> <output file>\n", argv[0]);
        return 2;
    }
    std::string error;
    const crossplatform::Snapshot snapshot = crossplatform::take(argv[1], error);
    if (!error.empty()) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    if (!crossplatform::save(snapshot, argv[2])) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
