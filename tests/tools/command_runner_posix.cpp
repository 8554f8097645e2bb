#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "command_runner.h"

namespace fs = std::filesystem;

namespace {

// The child's environment: ours, with the settings and temporary folders
// moved into the scratch folder.
std::vector<std::string> childEnvironment(const fs::path& root, const Environment& extra) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    Environment all{{"XDG_CONFIG_HOME", (root / ".config").string()}, {"TEMP", root.string()}};
    all.insert(all.end(), extra.begin(), extra.end());
    for (const auto& [name, value] : all) {
        std::erase_if(env, [&](const std::string& s) { return s.rfind(name + "=", 0) == 0; });
        env.push_back(name + "=" + value);
    }
    return env;
}

pid_t spawn(const fs::path& root, const std::vector<std::string>& args, const Environment& extra, int outFd, int errFd,
            uint64_t addressSpaceLimit = 0) {
    std::vector<std::string> argv{commandPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env = childEnvironment(root, extra);
    std::vector<char*> argvPtrs, envPtrs;
    for (auto& a : argv) argvPtrs.push_back(a.data());
    for (auto& e : env) envPtrs.push_back(e.data());
    argvPtrs.push_back(nullptr);
    envPtrs.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        if (chdir(root.c_str()) != 0) _exit(127);
        if (addressSpaceLimit) {
            const rlimit limit{addressSpaceLimit, addressSpaceLimit};
            if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(127);
        }
        dup2(outFd, 1);
        dup2(errFd, 2);
        execve(argvPtrs[0], argvPtrs.data(), envPtrs.data());
        _exit(127);
    }
    return pid;
}

int waitFor(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int openCapture(const fs::path& path) { return open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644); }

}  // namespace

std::vector<std::string> CommandResult::messages() const {
    std::vector<std::string> lines;
    std::istringstream in(err);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("velmora", 0) == 0) lines.push_back(line);
    return lines;
}

Scratch::Scratch() {
    std::string pattern = (fs::temp_directory_path() / "velmora-tool-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    root = pattern;
}

Scratch::~Scratch() {
    std::error_code ec;
    fs::remove_all(root, ec);
}

CommandResult Scratch::run(const std::vector<std::string>& args, const Environment& extra,
                           uint64_t addressSpaceLimit) const {
    const fs::path capture = fs::temp_directory_path() / ("velmora-capture-" + std::to_string(getpid()));
    const int outFd = openCapture(capture.string() + ".out");
    const int errFd = openCapture(capture.string() + ".err");
    const pid_t pid = spawn(root, args, extra, outFd, errFd, addressSpaceLimit);
    close(outFd);
    close(errFd);
    CommandResult result;
    result.exitCode = waitFor(pid);
    result.out = readText(capture.string() + ".out");
    result.err = readText(capture.string() + ".err");
    fs::remove(capture.string() + ".out");
    fs::remove(capture.string() + ".err");
    return result;
}

CommandResult Scratch::runAndInterruptAt(const std::vector<std::string>& args, const std::string& marker) const {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) throw std::runtime_error("pipe failed");
    const fs::path outPath = fs::temp_directory_path() / ("velmora-capture-" + std::to_string(getpid()) + ".out");
    const int outFd = openCapture(outPath);
    const pid_t pid = spawn(root, args, {}, outFd, pipeFds[1]);
    close(pipeFds[1]);
    close(outFd);
    CommandResult result;
    bool sent = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    char buffer[4096];
    for (;;) {
        pollfd p{pipeFds[0], POLLIN, 0};
        if (poll(&p, 1, 1000) < 0 && errno != EINTR) break;
        const ssize_t n = (p.revents & (POLLIN | POLLHUP)) ? read(pipeFds[0], buffer, sizeof buffer) : 0;
        if (n > 0) result.err.append(buffer, static_cast<size_t>(n));
        if (!sent && result.err.find(marker) != std::string::npos) {
            kill(pid, SIGINT);
            sent = true;
        }
        if (n == 0 && (p.revents & POLLHUP)) break;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            break;
        }
    }
    close(pipeFds[0]);
    result.exitCode = waitFor(pid);
    result.out = readText(outPath);
    fs::remove(outPath);
    if (!sent) result.exitCode = -2;  // never reached the marker
    return result;
}

CommandResult Scratch::runAndKillWhileWriting(const std::vector<std::string>& args, const Environment& extra) const {
    const fs::path folder = fs::canonical(root);
    std::set<fs::path> there;
    for (const auto& entry : fs::directory_iterator(folder)) there.insert(entry.path());
    const fs::path capture = fs::temp_directory_path() / ("velmora-capture-" + std::to_string(getpid()));
    const int outFd = openCapture(capture.string() + ".out");
    const int errFd = openCapture(capture.string() + ".err");
    const pid_t pid = spawn(root, args, extra, outFd, errFd);
    close(outFd);
    close(errFd);
    const fs::path fds = "/proc/" + std::to_string(pid) + "/fd";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    bool sent = false, ended = false;
    while (!sent && std::chrono::steady_clock::now() < deadline) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            ended = true;  // it finished before it was seen writing
            break;
        }
        std::error_code ec;
        for (const auto& fd : fs::directory_iterator(fds, ec)) {
            // An unnamed file shows as FOLDER/#INODE (deleted).
            const fs::path open = fs::read_symlink(fd.path(), ec);
            if (!ec && open.parent_path() == folder && !there.count(open)) {
                kill(pid, SIGKILL);
                sent = true;
                break;
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    if (!sent && !ended) kill(pid, SIGKILL);
    CommandResult result;
    result.exitCode = ended ? -2 : waitFor(pid);
    result.out = readText(capture.string() + ".out");
    result.err = readText(capture.string() + ".err");
    fs::remove(capture.string() + ".out");
    fs::remove(capture.string() + ".err");
    if (!sent) result.exitCode = -2;  // never seen writing
    return result;
}

HeldFile::HeldFile(const fs::path& path) : fd(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    if (fd < 0 || flock(fd, LOCK_EX) != 0) throw std::runtime_error(path.string() + ": cannot hold it");
}

HeldFile::~HeldFile() { close(fd); }

CommandResult Scratch::runInTerminal(const std::vector<std::string>& args) const {
    int master = -1, slave = -1;
    winsize size{};
    size.ws_row = 24;
    size.ws_col = 80;
    if (openpty(&master, &slave, nullptr, nullptr, &size) != 0) throw std::runtime_error("openpty failed");
    const pid_t pid = spawn(root, args, {}, slave, slave);
    close(slave);
    CommandResult result;
    char buffer[4096];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    for (;;) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 1000) < 0 && errno != EINTR) break;
        if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = read(master, buffer, sizeof buffer);
            if (n <= 0) break;  // EIO once the child and its terminal are gone
            result.out.append(buffer, static_cast<size_t>(n));
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            break;
        }
    }
    close(master);
    result.exitCode = waitFor(pid);
    return result;
}

std::vector<std::string> terminalLines(const std::string& shown) {
    std::vector<std::string> lines;
    std::string current;
    size_t column = 0;
    bool open = false;
    for (char c : shown) {
        if (c == '\n') {
            lines.push_back(current);
            current.clear();
            column = 0;
            open = false;
        } else if (c == '\r') {
            column = 0;
        } else {
            if (column < current.size())
                current[column] = c;
            else
                current += c;
            ++column;
            open = true;
        }
    }
    // A last line without its end still shows, unless only blanks are left on it.
    if (open && current.find_first_not_of(' ') != std::string::npos) lines.push_back(current);
    return lines;
}

std::string commandPath() {
    const char* other = std::getenv("VELMORA_TEST_COMMAND_PATH");
    return other && *other ? other : VELMORA_TEST_COMMAND;
}

std::vector<std::string> Scratch::files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(root))
        if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string modelFile(const std::string& name) { return std::string(VELMORA_TEST_MODELS) + "/" + name; }

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeText(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}
