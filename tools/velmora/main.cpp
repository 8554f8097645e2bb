// velmora: runs an ONNX image model over an image file through libvelmora.
#include <cstdio>
#include <exception>

#include "command.h"
#include "library_run.h"

int main(int argc, char** argv) {
    Options options;
    if (const int code = parseOptions(argc, argv, options); code >= 0) return code;
    try {
        return options.info ? printInformation(options) : processImage(options);
    } catch (const Interrupted&) {
        std::fprintf(stderr, "velmora: interrupted; nothing was written\n");
        return kExitInterrupted;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velmora: %s\n", e.what());
        return kExitFailure;
    }
}
