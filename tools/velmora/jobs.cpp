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

std::vector<fs::path> picturesIn(const fs::path& folder) {
    std::vector<fs::path> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec))
        if (entry.is_regular_file(ec) && hasPictureExtension(entry.path())) found.push_back(entry.path());
    if (ec) throw std::runtime_error(folder.string() + ": " + ec.message());
    std::sort(found.begin(), found.end());
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
    std::vector<fs::path> inputs;
    if (o.files.empty()) {
        const DemoFiles demo = findDemoFiles();
        inputs.push_back(demo.sample);
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
            const std::vector<fs::path> found = picturesIn(name);
            if (found.empty()) throw std::runtime_error(name + ": holds no .png, .jpg or .tif pictures");
            inputs.insert(inputs.end(), found.begin(), found.end());
        } else {
            inputs.emplace_back(name);  // a missing file is reported as that job's failure
        }
    }
    std::map<fs::path, fs::path> claimed;  // result -> the input that writes it
    for (const fs::path& input : inputs) {
        Job job{input, outDir / resultName(input, o.format), {}};
        const fs::path key = fs::weakly_canonical(job.output, ec);
        if (const auto it = claimed.find(key); it != claimed.end())
            job.refusal = "its result " + job.output.string() + " would replace the result of " + it->second.string();
        else
            claimed.emplace(key, input);
        list.jobs.push_back(std::move(job));
    }
    return list;
}
