#include "output_file.h"

#include <random>
#include <stdexcept>
#include <string_view>

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kNameLetters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

std::string kindOf(fs::file_type type) {
    switch (type) {
        case fs::file_type::fifo: return "a named pipe (FIFO)";
        case fs::file_type::character: return "a character device";
        case fs::file_type::block: return "a block device";
        case fs::file_type::socket: return "a socket";
        case fs::file_type::directory: return "a folder";
        default: return "no regular file";
    }
}

}  // namespace

void checkRegularTarget(const fs::path& output) {
    std::error_code ec;
    const fs::file_status status = fs::status(output, ec);
    if (ec || !fs::exists(status) || fs::is_regular_file(status)) return;
    std::string where = "is " + kindOf(status.type());
    if (fs::is_symlink(fs::symlink_status(output, ec)))
        where = "is a symbolic link to " + fs::read_symlink(output, ec).string() + ", " + kindOf(status.type());
    throw std::runtime_error(output.string() + ": " + where +
                             ", not a regular file; results are written only as "
                             "regular files");
}

std::string partialName() {
    thread_local std::mt19937_64 random{std::random_device{}()};
    std::uniform_int_distribution<size_t> pick(0, kNameLetters.size() - 1);
    std::string name = kPartialPrefix;
    for (size_t i = 0; i < kPartialRandomLength; ++i) name += kNameLetters[pick(random)];
    return name;
}

bool isPartialName(const std::string& name) {
    const std::string_view prefix = kPartialPrefix;
    if (name.size() != prefix.size() + kPartialRandomLength || name.compare(0, prefix.size(), prefix) != 0)
        return false;
    return name.find_first_not_of(kNameLetters, prefix.size()) == std::string::npos;
}
