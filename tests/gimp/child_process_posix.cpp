#include "child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

ChildRun runChild(const ChildCommand& command) {
    std::vector<char*> argv;
    for (const std::string& a : command.arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        // Only async-signal-safe work would be strictly right here; the test
        // process is single-threaded when it starts children.
        setpgid(0, 0);
        for (const auto& [name, value] : command.setEnvironment) setenv(name.c_str(), value.c_str(), 1);
        for (const std::string& name : command.unsetEnvironment) unsetenv(name.c_str());
        if (!command.workingFolder.empty() && chdir(command.workingFolder.c_str()) != 0) _exit(126);
        const int out = open(command.outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0) _exit(126);
        dup2(out, STDOUT_FILENO);
        dup2(out, STDERR_FILENO);
        close(out);
        const int none = open("/dev/null", O_RDONLY);
        if (none >= 0) dup2(none, STDIN_FILENO);
        execvp(argv[0], argv.data());
        _exit(127);
    }

    ChildRun run;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(command.secondsAllowed);
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0) throw std::runtime_error("waitpid failed");
        if (std::chrono::steady_clock::now() > deadline) {
            kill(-pid, SIGKILL);  // GIMP and the plug-ins it started
            waitpid(pid, &status, 0);
            run.timedOut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!run.timedOut && WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
    std::ifstream in(command.outputFile);
    std::ostringstream text;
    text << in.rdbuf();
    run.output = text.str();
    if (run.exitCode == 127) throw std::runtime_error("cannot start " + command.arguments.front());
    return run;
}
