// What a batch knows about its files when it chooses output names: which
// files it reads, which output it wrote for which of them, and where its
// report goes. An output name is never given to a file the batch still has
// to read, or has read, nor to an output the batch wrote for another
// source, nor to the report's name.
#ifndef MELNO2QUAZ_BATCH_FILES_H
#define MELNO2QUAZ_BATCH_FILES_H

#include <cstddef>

#include "platform.h"

struct BatchEntry {
    bool source_known;
    FileIdentity source;
    bool output_known;
    FileIdentity output;
};

struct BatchFiles {
    BatchEntry* entries;  // one per path of the batch
    std::size_t count;
    std::size_t current;  // the entry of the file being converted
    // The name the report will take (report.txt, or where a link there
    // leads); null when the batch writes no report. No output takes it.
    const char* report_target;
};

#endif
