#include "plugin_dialog.h"

#include <libgimp/gimpui.h>
#include <string.h>

#include "drawable_io.h"
#include "layer_plan.h"
#include "model_profile.h"
#include "process_drawable.h"
#include "run_words.h"

typedef struct Dialog {
    GtkWidget* chooser;
    GtkWidget* about;
    GtkWidget* plan;
    GtkAdjustment* tile;
    GtkAdjustment* step;
    GtkAdjustment* downscale;
    GtkWidget* detail;
    GtkWidget* mean;
    GtkWidget* std;
    GtkAdjustment* inputScale;
    GtkAdjustment* outputScale;
    GtkWidget* output;
    /* The chosen model, loaded, and the layer it is planned for. */
    VgLoadedModel* model;
    gchar* modelPath;
    VgPixels layer;
    /* The layer as the model takes it, kept while channels and scale stay. */
    VgPixels input;
    int32_t inputChannels;
    double inputFactor;
    bool building; /* no plans while the widgets are made */
} Dialog;

/* The settings as the widgets show them. */
static void readWidgets(const Dialog* d, VgRunSettings* settings) {
    gchar* path = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(d->chooser));
    g_strlcpy(settings->modelPath, path ? path : "", sizeof settings->modelPath);
    g_free(path);
    settings->tile = (int32_t)gtk_adjustment_get_value(d->tile);
    settings->step = (int32_t)gtk_adjustment_get_value(d->step);
    const int32_t k = (int32_t)gtk_adjustment_get_value(d->downscale);
    const bool detail = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(d->detail));
    settings->downscale = detail && k > 1 ? -k : k;
    g_strlcpy(settings->mean, gtk_entry_get_text(GTK_ENTRY(d->mean)), sizeof settings->mean);
    g_strlcpy(settings->std, gtk_entry_get_text(GTK_ENTRY(d->std)), sizeof settings->std);
    settings->inputScale = gtk_adjustment_get_value(d->inputScale);
    settings->outputScale = gtk_adjustment_get_value(d->outputScale);
    gint output = VG_OUTPUT_NEW_LAYER;
    gimp_int_combo_box_get_active(GIMP_INT_COMBO_BOX(d->output), &output);
    settings->output = output;
}

/* Shows |text| at once: measuring a model keeps the dialog busy a while. */
static void showNow(GtkWidget* label, const char* text) {
    gtk_label_set_text(GTK_LABEL(label), text);
    while (gtk_events_pending()) gtk_main_iteration();
}

/* What the model takes and how its values are normalised, or why it cannot
 * be used; false in that case. */
static bool describeModel(Dialog* d, const VgRunSettings* settings) {
    VgModelFit fit;
    VelmoraProfile profile;
    VgFailure failure = {{0}};
    if (!vgUseProfile(d->model, settings->modelPath, settings->mean, settings->std, &failure) ||
        !vgProfileInEffect(d->model, &profile, &failure) || !vgFitLoadedModel(d->model, 0, &fit, &failure)) {
        gtk_label_set_text(GTK_LABEL(d->about), failure.text);
        return false;
    }
    char normalisation[1024];
    vgDescribeProfile(&profile, fit.inputChannels, normalisation, sizeof normalisation);
    gchar* channels = fit.inputChannels > 0 ? g_strdup_printf(" with %d channel%s", (int)fit.inputChannels,
                                                              fit.inputChannels == 1 ? "" : "s")
                                            : g_strdup("");
    const bool mask = profile.output == VELMORA_OUTPUT_MASK || fit.outputChannels == 1;
    gchar* text =
        fit.openSize ? g_strdup_printf("Takes tiles of any size%s.%s\n%s", channels,
                                       mask ? " Gives a mask, which can become the layer's mask." : "", normalisation)
                     : g_strdup_printf("Takes tiles of %d x %d pixels%s.%s\n%s", (int)fit.tile, (int)fit.tile, channels,
                                       mask ? " Gives a mask, which can become the layer's mask." : "", normalisation);
    gtk_label_set_text(GTK_LABEL(d->about), text);
    g_free(text);
    g_free(channels);
    return true;
}

/* The layer's pixels as the model takes them, made again only when the
 * model's channels or the input scale change. */
static bool fitLayer(Dialog* d, const VgModelFit* fit, const VgRunSettings* settings, VgFailure* failure) {
    if (d->input.data && d->inputChannels == fit->inputChannels && d->inputFactor == settings->inputScale) return true;
    vgFreePixels(&d->input);
    VgPixels keptAlpha = {0};
    const bool fitted =
        vgFitToModel(&d->layer, fit->inputChannels, (float)settings->inputScale, &d->input, &keptAlpha, failure);
    vgFreePixels(&keptAlpha);
    d->inputChannels = fit->inputChannels;
    d->inputFactor = settings->inputScale;
    return fitted;
}

/* The plan for the layer with the options as they stand. */
static void showPlan(Dialog* d) {
    if (d->building) return;
    VgRunSettings settings;
    vgDefaultSettings(&settings);
    readWidgets(d, &settings);
    if (!d->model) {
        gtk_label_set_text(GTK_LABEL(d->plan), "");
        return;
    }
    if (!describeModel(d, &settings)) {
        gtk_label_set_text(GTK_LABEL(d->plan), "");
        return;
    }
    VgModelFit fit;
    VelmoraPlan plan;
    VgFailure failure = {{0}};
    char text[1024];
    if (settings.tile == 0 && settings.step == 0) showNow(d->plan, "Measuring the model on the layer...");
    if (vgFitLoadedModel(d->model, settings.tile, &fit, &failure) && fitLayer(d, &fit, &settings, &failure) &&
        vgPlanLayer(d->model, &fit, &settings, &d->input, &plan, &failure))
        vgDescribePlan(&plan, text, sizeof text);
    else
        g_strlcpy(text, failure.text, sizeof text);
    gtk_label_set_text(GTK_LABEL(d->plan), text);
}

/* Loads the chosen model; the library describes it and plans the layer. */
static void modelChosen(GtkFileChooser* chooser, Dialog* d) {
    vgUnloadModel(d->model);
    d->model = NULL;
    g_free(d->modelPath);
    d->modelPath = gtk_file_chooser_get_filename(chooser);
    VgFailure failure = {{0}};
    if (!d->modelPath) {
        gtk_label_set_text(GTK_LABEL(d->about), "Choose an ONNX model file.");
    } else {
        showNow(d->about, "Loading the model...");
        d->model = vgLoadModelFile(d->modelPath, &failure);
        if (!d->model) gtk_label_set_text(GTK_LABEL(d->about), failure.text);
    }
    showPlan(d);
}

static void optionChanged(GtkWidget* widget, Dialog* d) {
    (void)widget;
    showPlan(d);
}

static gboolean entryLeft(GtkWidget* widget, GdkEvent* event, Dialog* d) {
    (void)widget;
    (void)event;
    showPlan(d);
    return FALSE;
}

static GtkWidget* wrappedLabel(void) {
    GtkWidget* label = gtk_label_new("");
    gtk_misc_set_alignment(GTK_MISC(label), 0.0, 0.5);
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    gtk_widget_set_size_request(label, 420, -1);
    return label;
}

static GtkAdjustment* addSpin(GtkWidget* table, int row, const char* label, double value, double lower, double upper,
                              double stepSize, int digits, const char* tip, Dialog* d) {
    GtkObject* adjustment = gtk_adjustment_new(value, lower, upper, stepSize, stepSize * 10, 0);
    GtkWidget* spin = gtk_spin_button_new(GTK_ADJUSTMENT(adjustment), stepSize, digits);
    gtk_spin_button_set_numeric(GTK_SPIN_BUTTON(spin), TRUE);
    gimp_help_set_help_data(spin, tip, NULL);
    gimp_table_attach_aligned(GTK_TABLE(table), 0, row, label, 0.0, 0.5, spin, 1, TRUE);
    g_signal_connect(adjustment, "value-changed", G_CALLBACK(optionChanged), d);
    return GTK_ADJUSTMENT(adjustment);
}

static GtkWidget* addEntry(GtkWidget* table, int row, const char* label, const char* value, const char* tip,
                           Dialog* d) {
    GtkWidget* entry = gtk_entry_new();
    gtk_entry_set_text(GTK_ENTRY(entry), value);
    gimp_help_set_help_data(entry, tip, NULL);
    gimp_table_attach_aligned(GTK_TABLE(table), 0, row, label, 0.0, 0.5, entry, 1, FALSE);
    g_signal_connect(entry, "activate", G_CALLBACK(optionChanged), d);
    g_signal_connect(entry, "focus-out-event", G_CALLBACK(entryLeft), d);
    return entry;
}

static GtkWidget* modelChooser(const VgRunSettings* settings) {
    GtkWidget* chooser = gtk_file_chooser_button_new("Choose an ONNX model", GTK_FILE_CHOOSER_ACTION_OPEN);
    GtkFileFilter* onnx = gtk_file_filter_new();
    gtk_file_filter_set_name(onnx, "ONNX models (*.onnx)");
    gtk_file_filter_add_pattern(onnx, "*.onnx");
    gtk_file_filter_add_pattern(onnx, "*.ONNX");
    gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(chooser), onnx);
    GtkFileFilter* all = gtk_file_filter_new();
    gtk_file_filter_set_name(all, "All files");
    gtk_file_filter_add_pattern(all, "*");
    gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(chooser), all);
    if (settings->modelPath[0]) gtk_file_chooser_set_filename(GTK_FILE_CHOOSER(chooser), settings->modelPath);
    return chooser;
}

static void buildTable(GtkWidget* table, const VgRunSettings* settings, Dialog* d) {
    d->chooser = modelChooser(settings);
    gimp_table_attach_aligned(GTK_TABLE(table), 0, 0, "_Model:", 0.0, 0.5, d->chooser, 1, FALSE);
    d->about = wrappedLabel();
    gtk_table_attach(GTK_TABLE(table), d->about, 1, 2, 1, 2, GTK_FILL, GTK_FILL, 0, 0);
    d->plan = wrappedLabel();
    gimp_table_attach_aligned(GTK_TABLE(table), 0, 2, "Plan:", 0.0, 0.0, d->plan, 1, FALSE);

    d->tile = addSpin(table, 3, "_Tile size:", settings->tile, 0, 65536, 1, 0,
                      "Side of the square tiles in pixels; it must match a model that fixes its input size. "
                      "0 takes the plan's.",
                      d);
    d->step = addSpin(table, 4, "St_ep:", settings->step, 0, 65536, 1, 0,
                      "Distance between tiles; the rest of each tile is overlap that is discarded. 0 takes the "
                      "plan's, or with a tile size given the tile less a sixteenth of it on each side.",
                      d);
    const int factor = settings->downscale < 0 ? -settings->downscale : settings->downscale;
    d->downscale =
        addSpin(table, 5, "_Downscale:", factor > 0 ? factor : 1, 1, 64, 1, 0,
                "Shrink the picture by this factor before the model and enlarge the result back (1: no).", d);
    d->detail = gtk_check_button_new_with_mnemonic("Restore the detai_l lost by shrinking");
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(d->detail), settings->downscale < -1);
    gtk_table_attach(GTK_TABLE(table), d->detail, 1, 2, 6, 7, GTK_FILL, GTK_FILL, 0, 0);
    g_signal_connect(d->detail, "toggled", G_CALLBACK(optionChanged), d);

    d->mean = addEntry(table, 7, "Me_an:", settings->mean,
                       "Subtracted from each channel's value on the way into the model, in the model's channel order "
                       "and values; one number serves every channel. Empty: the model's profile.",
                       d);
    d->std = addEntry(table, 8, "_Std:", settings->std,
                      "Each channel's value is divided by this after the mean; empty: the model's profile.", d);
    d->inputScale = addSpin(table, 9, "_Input scale:", settings->inputScale, -1.0e6, 1.0e6, 0.01, 6,
                            "Factor on the layer's values (0 to 1) before the profile.", d);
    d->outputScale = addSpin(table, 10, "O_utput scale:", settings->outputScale, -1.0e6, 1.0e6, 0.01, 6,
                             "Factor on the model's values after the profile.", d);
    d->output = gimp_int_combo_box_new("New layer above", VG_OUTPUT_NEW_LAYER, "Replace the layer", VG_OUTPUT_REPLACE,
                                       "Layer mask of the layer", VG_OUTPUT_MASK, NULL);
    gimp_int_combo_box_set_active(GIMP_INT_COMBO_BOX(d->output), settings->output);
    gimp_help_set_help_data(d->output,
                            "Where the result goes. A layer mask takes a mask or a one-channel result and keeps the "
                            "layer's pixels.",
                            NULL);
    gimp_table_attach_aligned(GTK_TABLE(table), 0, 11, "_Result:", 0.0, 0.5, d->output, 1, FALSE);
}

bool vgRunDialog(VgRunSettings* settings, const char* procedureName, gint32 drawable, VgLoadedModel** loaded) {
    *loaded = NULL;
    gimp_ui_init("velmora-gimp", FALSE);
    GtkWidget* dialog = gimp_dialog_new("Run model", "velmora-gimp", NULL, 0, gimp_standard_help_func, procedureName,
                                        "_Cancel", GTK_RESPONSE_CANCEL, "_OK", GTK_RESPONSE_OK, NULL);
    gtk_dialog_set_alternative_button_order(GTK_DIALOG(dialog), GTK_RESPONSE_OK, GTK_RESPONSE_CANCEL, -1);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
    gimp_window_set_transient(GTK_WINDOW(dialog));

    GtkWidget* table = gtk_table_new(12, 2, FALSE);
    gtk_table_set_col_spacings(GTK_TABLE(table), 6);
    gtk_table_set_row_spacings(GTK_TABLE(table), 6);
    gtk_container_set_border_width(GTK_CONTAINER(table), 12);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), table, TRUE, TRUE, 0);

    Dialog d;
    memset(&d, 0, sizeof d);
    d.building = true;
    buildTable(table, settings, &d);
    VgFailure failure = {{0}};
    if (!vgReadRegion(drawable, 0, 0, gimp_drawable_width(drawable), gimp_drawable_height(drawable), &d.layer,
                      &failure))
        gtk_label_set_text(GTK_LABEL(d.plan), failure.text);
    gtk_widget_show_all(dialog);
    d.building = false;
    g_signal_connect(d.chooser, "file-set", G_CALLBACK(modelChosen), &d);
    modelChosen(GTK_FILE_CHOOSER(d.chooser), &d);

    const bool accepted = gimp_dialog_run(GIMP_DIALOG(dialog)) == GTK_RESPONSE_OK;
    if (accepted) {
        readWidgets(&d, settings);
        /* The run goes on with the model as measured here. */
        if (d.model && d.modelPath && strcmp(d.modelPath, settings->modelPath) == 0) {
            *loaded = d.model;
            d.model = NULL;
        }
    }
    d.building = true; /* nothing to plan while the widgets go */
    gtk_widget_destroy(dialog);
    vgUnloadModel(d.model);
    g_free(d.modelPath);
    vgFreePixels(&d.layer);
    vgFreePixels(&d.input);
    return accepted;
}
