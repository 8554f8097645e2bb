// A result file under way: written where no one sees it under the output's
// name, and given that name only once complete, so that an old output is
// never replaced by a partial one, not even by a run that is killed.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

class OutputFile {
public:
    // A file for `target`, in its folder, which must exist. Throws when
    // `target` exists and is no regular file.
    explicit OutputFile(const std::filesystem::path& target);
    ~OutputFile();  // an uncommitted file is thrown away
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // The path the codecs open to write ("wb"); not the target's name.
    const std::filesystem::path& writePath() const;

    // Gives the complete file the target's name, replacing an old file at
    // once and keeping its permissions.
    void commit();

    struct State;

private:
    std::unique_ptr<State> state;
};

// Refuses an output that exists and is no regular file (a named pipe, a
// device, or a link to one): writing would replace it by a file.
void checkRegularTarget(const std::filesystem::path& output);

// The command's own names for the partial files it may leave where the
// system has no unnamed files: a fixed length, whatever the output's name.
inline constexpr const char* kPartialPrefix = ".velmora-partial-";
inline constexpr size_t kPartialRandomLength = 6;
std::string partialName();
bool isPartialName(const std::string& name);
