/* Creates a context, asks the library who it is, and loads a model. */
#include <stdio.h>
#include <stdlib.h>

#include <velmora.h>

int main(int argc, char** argv) {
    VelmoraContext context = createContext(0, "consumer");
    char engine[1000];
    getNNEngineInformation(context, "consumer", engine);
    printf("version %.3f engine %s\n", getVelmoraVersion(context, "", "", 0), engine);
    int status = 0;
    if (argc > 1) {
        FILE* f = fopen(argv[1], "rb");
        static char model[1 << 16];
        const size_t size = f ? fread(model, 1, sizeof model, f) : 0;
        if (f) fclose(f);
        status = loadModel(context, model, (uint32_t)size, "input", "output") ? 0 : 1;
        printf("model %s\n", status == 0 ? "loaded" : "refused");
    }
    deleteContext(context);
    return status;
}
