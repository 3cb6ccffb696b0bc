// A private folder for a fuzz target's files, made once per process. The target works inside it only for
// the length of one input: libFuzzer reads and writes the corpus relative to the directory it started in.
#pragma once
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

class InFuzzFolder {
public:
    InFuzzFolder() : home_(open(".", O_RDONLY | O_DIRECTORY)) {
        static char folder[] = "/tmp/quorvane-fuzz-XXXXXX";
        static bool made = mkdtemp(folder) != nullptr;
        if (!made || home_ < 0 || chdir(folder) != 0) {
            perror("fuzz folder");
            abort();
        }
    }
    ~InFuzzFolder() {
        if (fchdir(home_) != 0) abort();
        close(home_);
    }

private:
    int home_;
};

inline void WriteWholeFile(const char* path, const unsigned char* data, size_t size) {
    FILE* file = fopen(path, "wb");
    if (!file || fwrite(data, 1, size, file) != size || fclose(file) != 0) {
        perror(path);
        abort();
    }
}
