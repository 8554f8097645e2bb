#include "jobs.h"

#include <algorithm>
#include <map>
#include <stdexcept>

#include "demo_files.h"
#include "image_files.h"

namespace fs = std::filesystem;

bool hasPictureExtension(const fs::path& path) {
    try {
        formatForExtension(path);
        return true;
    } catch (const std::runtime_error&) {
        return false;
    }
}

bool sameFile(const fs::path& input, const fs::path& output) {
    std::error_code ec;
    if (!fs::exists(output, ec) || !fs::exists(input, ec)) return false;
    return fs::equivalent(input, output, ec) && !ec;
}

fs::path writtenPath(const fs::path& output) {
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(output, ec))) return output;
    const fs::path target = fs::weakly_canonical(output, ec);
    return ec ? output : target;
}

namespace {

// Why a folder's entry with a picture's name cannot be read, or "" when it
// is a file to take (or no file at all, such as a subfolder).
std::string unreadableEntry(const fs::directory_entry& entry) {
    std::error_code ec;
    (void)entry.status(ec);
    if (!ec) return {};
    const fs::path& path = entry.path();
    if (std::error_code linkError; entry.is_symlink(linkError)) {
        std::error_code ignored;
        const fs::path target = fs::read_symlink(path, ignored);
        if (ec == std::errc::no_such_file_or_directory)
            return path.string() + ": is a symbolic link to " + target.string() + ", which does not exist";
        return path.string() + ": is a symbolic link to " + target.string() + ", which cannot be read (" +
               ec.message() + ")";
    }
    return path.string() + ": cannot be read (" + ec.message() + ")";
}

// The folder's pictures, sorted; an entry that cannot be read (a dangling
// link) is a job that fails alone, so that the others still run.
std::vector<Job> picturesIn(const fs::path& folder) {
    std::vector<Job> found;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (!hasPictureExtension(it->path())) continue;
        std::string problem = unreadableEntry(*it);
        std::error_code ignored;
        if (!problem.empty() || it->is_regular_file(ignored)) found.push_back({it->path(), {}, std::move(problem)});
    }
    if (ec) throw std::runtime_error(folder.string() + ": " + ec.message());
    std::sort(found.begin(), found.end(), [](const Job& a, const Job& b) { return a.input < b.input; });
    return found;
}

fs::path resultName(const fs::path& input, const std::string& format) {
    fs::path name = input.filename();
    if (!format.empty()) name.replace_extension("." + format);
    return name;
}

}  // namespace

JobList planJobs(const Options& o) {
    JobList list;
    list.model = o.model;
    list.batch = !o.outputDir.empty();
    if (!o.format.empty() && !list.batch) throw std::runtime_error("--format goes with -o OUTDIR");
    std::vector<Job> inputs;  // their outputs are set below
    if (o.files.empty()) {
        const DemoFiles demo = findDemoFiles();
        inputs.push_back({demo.sample, {}, {}});
        list.demo = true;
        if (list.model.empty()) list.model = demo.model;
        if (!list.batch) list.jobs.push_back({demo.sample, kDemoResultName, {}});
    } else if (o.model.empty()) {
        list.model = findDemoFiles().model;
    }
    if (!list.batch) {
        if (list.demo) return list;
        std::error_code ec;
        if (fs::is_directory(o.files[0], ec))
            throw std::runtime_error(o.files[0] + ": is a folder; give -o OUTDIR for the results of its pictures");
        if (o.files.size() == 1) throw std::runtime_error("give the output file after the input file, or -o OUTDIR");
        if (o.files.size() > 2)
            throw std::runtime_error("several inputs need -o OUTDIR for their results (" +
                                     std::to_string(o.files.size()) + " files given)");
        list.jobs.push_back({o.files[0], o.files[1], {}});
        return list;
    }

    const fs::path outDir = o.outputDir;
    std::error_code ec;
    if (fs::exists(outDir, ec) && !fs::is_directory(outDir, ec))
        throw std::runtime_error(outDir.string() + ": is not a folder");
    fs::create_directories(outDir, ec);
    if (ec) throw std::runtime_error(outDir.string() + ": " + ec.message());
    for (const std::string& name : o.files) {
        if (fs::is_directory(name, ec)) {
            const std::vector<Job> found = picturesIn(name);
            if (found.empty()) throw std::runtime_error(name + ": holds no .png, .jpg or .tif pictures");
            inputs.insert(inputs.end(), found.begin(), found.end());
        } else {
            inputs.push_back({name, {}, {}});  // a missing file is reported as that job's failure
        }
    }
    std::map<fs::path, fs::path> claimed;  // result -> the input that writes it
    for (Job& job : inputs) {
        job.output = outDir / resultName(job.input, o.format);
        if (!job.refusal.empty()) {
            list.jobs.push_back(std::move(job));
            continue;
        }
        const fs::path key = fs::weakly_canonical(job.output, ec);
        if (const auto it = claimed.find(key); it != claimed.end())
            job.refusal = "its result " + job.output.string() + " would replace the result of " + it->second.string();
        else
            claimed.emplace(key, job.input);
        list.jobs.push_back(std::move(job));
    }
    return list;
}
