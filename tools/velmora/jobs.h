// Which pictures a run reads and where each result goes.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "options.h"

struct Job {
    std::filesystem::path input;
    std::filesystem::path output;
    std::string refusal;  // set when this job must not run (its output is its input, it cannot be read, ...)
};

struct JobList {
    std::vector<Job> jobs;
    std::filesystem::path model;
    bool demo = false;   // the bundled sample, without an input of the user's
    bool batch = false;  // -o: several results, a summary line, failures skipped
};

// Resolves the options into jobs: the demo without inputs; INPUT OUTPUT; or,
// with -o OUTDIR, every input file and every picture in an input folder
// (.png, .jpg, .jpeg, .tif, .tiff, not descending into subfolders), the
// results under the inputs' names in OUTDIR, which is made when missing.
// Throws for a usage error that stops the whole run.
JobList planJobs(const Options& options);

// True when writing `output` would replace `input`: the same file, also
// through symbolic or hard links.
bool sameFile(const std::filesystem::path& input, const std::filesystem::path& output);

// Where a result is written: through a symbolic link to the file it names.
std::filesystem::path writtenPath(const std::filesystem::path& output);

// Whether the extension names a picture the command reads.
bool hasPictureExtension(const std::filesystem::path& path);
