// velmora: runs an ONNX image model over image files through libvelmora.
#include <exception>

#include "command.h"
#include "console.h"
#include "library_messages.h"
#include "progress.h"

int main(int argc, char** argv) {
    Options options;
    if (const int code = parseOptions(argc, argv, options); code >= 0) return code;
    startLibraryMessages(options.verbose);
    try {
        return options.info ? printInformation(options) : processImages(options);
    } catch (const Interrupted&) {
        say("interrupted; nothing was written");
        return kExitInterrupted;
    } catch (const std::bad_alloc&) {
        say("out of memory");
        return kExitFailure;
    } catch (const std::exception& e) {
        say(e.what());
        return kExitFailure;
    }
}
