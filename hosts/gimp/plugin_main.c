/* velmora-gimp: runs an ONNX image model over the active drawable through
 * libvelmora. Registers Filters > Velmora > Run model... */
#include <gegl.h>
#include <libgimp/gimp.h>
#include <string.h>

#include "plugin_dialog.h"
#include "process_drawable.h"
#include "run_settings.h"

#define PROCEDURE_NAME "plug-in-velmora-run-model"

static void query(void);
static void run(const gchar* name, gint parameterCount, const GimpParam* parameters, gint* returnCount,
                GimpParam** returnValues);

const GimpPlugInInfo PLUG_IN_INFO = {NULL, NULL, query, run};

MAIN()

enum { kParameterCount = 12 };

static void query(void) {
    static const GimpParamDef arguments[kParameterCount] = {
        {GIMP_PDB_INT32, "run-mode", "The run mode { RUN-INTERACTIVE (0), RUN-NONINTERACTIVE (1) }"},
        {GIMP_PDB_IMAGE, "image", "Input image"},
        {GIMP_PDB_DRAWABLE, "drawable", "Input drawable"},
        {GIMP_PDB_STRING, "model-file", "The ONNX model file"},
        {GIMP_PDB_INT32, "tile",
         "Side of the square tiles in pixels (0: the plan's, which the library makes for the layer after measuring "
         "the model on it)"},
        {GIMP_PDB_INT32, "step",
         "Distance between tiles (0: the plan's; with a tile given, the tile less a sixteenth of it on each side)"},
        {GIMP_PDB_INT32, "downscale",
         "Shrink by this factor before the model and enlarge back (1: none); a negative factor also restores the "
         "detail"},
        {GIMP_PDB_FLOAT, "input-scale", "Factor on the layer's values (0 to 1) before the model's profile"},
        {GIMP_PDB_FLOAT, "output-scale", "Factor on the model's values after its profile"},
        {GIMP_PDB_STRING, "mean",
         "Normalisation mean per channel, in the model's order, numbers separated by commas (\"\": the model's "
         "profile, from MODEL.onnx.json beside the model or its metadata)"},
        {GIMP_PDB_STRING, "std", "Normalisation standard deviation per channel (\"\": the model's profile)"},
        {GIMP_PDB_INT32, "output",
         "Where the result goes { NEW-LAYER (0): above the source, REPLACE (1): the source's pixels, MASK (2): the "
         "source layer's mask, from a mask or one-channel result }"},
    };
    gimp_install_procedure(
        PROCEDURE_NAME, "Run an ONNX image model over the layer",
        "Runs an ONNX image model over the drawable, or over the selection, through the Velmora library, by the "
        "plan the library makes for the layer (tiles, or the whole picture at once). The pixels go to the model as "
        "gamma-encoded floats from 0 to 1, normalised by the model's profile; alpha is kept aside unless the model "
        "takes it. The result goes to a new layer above the source, replaces it, or becomes its layer mask. A "
        "model whose result is larger than its input by a whole factor enlarges the layer.",
        "Velmora developers", "Velmora developers", "2026", "Run _model...", "RGB*, GRAY*", GIMP_PLUGIN,
        kParameterCount, 0, arguments, NULL);
    gimp_plugin_menu_register(PROCEDURE_NAME, "<Image>/Filters/Velmora");
}

/* Settings stored by an earlier run, when they are of this plug-in's layout. */
static void storedSettings(VgRunSettings* settings) {
    vgDefaultSettings(settings);
    if (gimp_get_data_size(PROCEDURE_NAME) != (gint)sizeof *settings) return;
    VgRunSettings stored;
    gimp_get_data(PROCEDURE_NAME, &stored);
    stored.modelPath[sizeof stored.modelPath - 1] = '\0';
    stored.mean[sizeof stored.mean - 1] = '\0';
    stored.std[sizeof stored.std - 1] = '\0';
    if (stored.layoutVersion == VG_SETTINGS_LAYOUT) *settings = stored;
}

static bool settingsFromParameters(const GimpParam* p, VgRunSettings* settings, VgFailure* failure) {
    vgDefaultSettings(settings);
    const char* path = p[3].data.d_string ? p[3].data.d_string : "";
    if (strlen(path) >= sizeof settings->modelPath) return vgFail(failure, "the model file's path is too long");
    strcpy(settings->modelPath, path);
    settings->tile = p[4].data.d_int32;
    settings->step = p[5].data.d_int32;
    settings->downscale = p[6].data.d_int32;
    settings->inputScale = p[7].data.d_float;
    settings->outputScale = p[8].data.d_float;
    const char* mean = p[9].data.d_string ? p[9].data.d_string : "";
    const char* std = p[10].data.d_string ? p[10].data.d_string : "";
    if (strlen(mean) >= sizeof settings->mean || strlen(std) >= sizeof settings->std)
        return vgFail(failure, "the mean or std is too long");
    strcpy(settings->mean, mean);
    strcpy(settings->std, std);
    settings->output = p[11].data.d_int32;
    return true;
}

static void run(const gchar* name, gint parameterCount, const GimpParam* parameters, gint* returnCount,
                GimpParam** returnValues) {
    static GimpParam values[2];
    static VgFailure failure;
    (void)name;
    vgShowLibraryWarnings(); /* before the dialog or the run makes the first context */
    *returnCount = 1;
    *returnValues = values;
    values[0].type = GIMP_PDB_STATUS;
    values[0].data.d_status = GIMP_PDB_SUCCESS;
    memset(&failure, 0, sizeof failure);

    const GimpRunMode mode = parameterCount > 0 ? (GimpRunMode)parameters[0].data.d_int32 : GIMP_RUN_NONINTERACTIVE;
    VgRunSettings settings;
    VgLoadedModel* loaded = NULL; /* as the dialog measured it */
    GimpPDBStatusType status = GIMP_PDB_SUCCESS;
    gegl_init(NULL, NULL);
    if (parameterCount < 3) {
        status = GIMP_PDB_CALLING_ERROR;
    } else if (mode == GIMP_RUN_NONINTERACTIVE) {
        if (parameterCount != kParameterCount)
            status = GIMP_PDB_CALLING_ERROR;
        else if (!settingsFromParameters(parameters, &settings, &failure))
            status = GIMP_PDB_CALLING_ERROR;
    } else {
        storedSettings(&settings);
        /* A script that names a model opens the dialog with its values. */
        const bool given = mode == GIMP_RUN_INTERACTIVE && parameterCount == kParameterCount &&
                           parameters[3].data.d_string && parameters[3].data.d_string[0];
        if (given && !settingsFromParameters(parameters, &settings, &failure)) storedSettings(&settings);
        if (mode == GIMP_RUN_INTERACTIVE) {
            if (vgRunDialog(&settings, PROCEDURE_NAME, parameters[2].data.d_drawable, &loaded))
                gimp_set_data(PROCEDURE_NAME, &settings, sizeof settings); /* kept even if the run fails */
            else
                status = GIMP_PDB_CANCEL;
        }
    }

    if (status == GIMP_PDB_SUCCESS) {
        const gint32 image = parameters[1].data.d_image;
        const gint32 drawable = parameters[2].data.d_drawable;
        switch (vgProcessDrawable(image, drawable, &settings, loaded, &failure)) {
            case VG_RUN_DONE:
                if (mode != GIMP_RUN_NONINTERACTIVE) gimp_displays_flush();
                break;
            case VG_RUN_STOPPED: status = GIMP_PDB_CANCEL; break;
            case VG_RUN_FAILED: status = GIMP_PDB_EXECUTION_ERROR; break;
        }
    } else {
        vgUnloadModel(loaded);
    }

    values[0].data.d_status = status;
    if (status != GIMP_PDB_SUCCESS && status != GIMP_PDB_CANCEL && failure.text[0]) {
        /* GIMP shows this text in its message area and hands it to scripts. */
        *returnCount = 2;
        values[1].type = GIMP_PDB_STRING;
        values[1].data.d_string = failure.text;
    }
}
