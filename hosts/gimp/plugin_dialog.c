#include "plugin_dialog.h"

#include <libgimp/gimp.h>
#include <libgimp/gimpui.h>
#include <string.h>

#include "library_run.h"

typedef struct Widgets {
    GtkWidget* chooser;
    GtkWidget* about;
    GtkAdjustment* tile;
    GtkAdjustment* step;
    GtkAdjustment* downscale;
    GtkWidget* detail;
    GtkAdjustment* inputScale;
    GtkAdjustment* outputScale;
} Widgets;

/* What a described model takes, in words for the dialog. */
static gchar* takesText(const VgModelFit* fit) {
    gchar* channels = fit->inputChannels > 0 ? g_strdup_printf(" with %d channel%s", (int)fit->inputChannels,
                                                               fit->inputChannels == 1 ? "" : "s")
                                             : g_strdup("");
    gchar* text = fit->openSize
                      ? g_strdup_printf("Takes tiles of any size%s (tile size 0: %d).", channels, (int)fit->tile)
                      : g_strdup_printf("Takes tiles of %d x %d pixels%s.", (int)fit->tile, (int)fit->tile, channels);
    g_free(channels);
    return text;
}

/* Says what the chosen model takes, or why it cannot be used: the library
 * loads it and describes it. */
static void describeChoice(GtkFileChooser* chooser, Widgets* w) {
    gchar* path = gtk_file_chooser_get_filename(chooser);
    gchar* bytes = NULL;
    gsize size = 0;
    GError* error = NULL;
    gchar* text = NULL;
    VgLoadedModel* loaded = NULL;
    VgModelFit fit;
    VgFailure failure = {{0}};
    if (!path) {
        text = g_strdup("Choose an ONNX model file.");
    } else if (!g_file_get_contents(path, &bytes, &size, &error)) {
        text = g_strdup(error->message);
        g_error_free(error);
    } else if (!(loaded = vgLoadModel(bytes, size, &failure)) || !vgFitLoadedModel(loaded, 0, &fit, &failure)) {
        text = g_strdup(failure.text);
    } else {
        text = takesText(&fit);
    }
    gtk_label_set_text(GTK_LABEL(w->about), text);
    vgUnloadModel(loaded);
    g_free(text);
    g_free(bytes);
    g_free(path);
}

static GtkAdjustment* addSpin(GtkWidget* table, int row, const char* label, double value, double lower, double upper,
                              double stepSize, int digits, const char* tip) {
    GtkObject* adjustment = gtk_adjustment_new(value, lower, upper, stepSize, stepSize * 10, 0);
    GtkWidget* spin = gtk_spin_button_new(GTK_ADJUSTMENT(adjustment), stepSize, digits);
    gtk_spin_button_set_numeric(GTK_SPIN_BUTTON(spin), TRUE);
    gimp_help_set_help_data(spin, tip, NULL);
    gimp_table_attach_aligned(GTK_TABLE(table), 0, row, label, 0.0, 0.5, spin, 1, TRUE);
    return GTK_ADJUSTMENT(adjustment);
}

bool vgRunDialog(VgRunSettings* settings, const char* procedureName) {
    gimp_ui_init("velmora-gimp", FALSE);
    GtkWidget* dialog = gimp_dialog_new("Run model", "velmora-gimp", NULL, 0, gimp_standard_help_func, procedureName,
                                        "_Cancel", GTK_RESPONSE_CANCEL, "_OK", GTK_RESPONSE_OK, NULL);
    gtk_dialog_set_alternative_button_order(GTK_DIALOG(dialog), GTK_RESPONSE_OK, GTK_RESPONSE_CANCEL, -1);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
    gimp_window_set_transient(GTK_WINDOW(dialog));

    GtkWidget* table = gtk_table_new(8, 3, FALSE);
    gtk_table_set_col_spacings(GTK_TABLE(table), 6);
    gtk_table_set_row_spacings(GTK_TABLE(table), 6);
    gtk_container_set_border_width(GTK_CONTAINER(table), 12);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), table, TRUE, TRUE, 0);

    Widgets w;
    w.chooser = gtk_file_chooser_button_new("Choose an ONNX model", GTK_FILE_CHOOSER_ACTION_OPEN);
    GtkFileFilter* onnx = gtk_file_filter_new();
    gtk_file_filter_set_name(onnx, "ONNX models (*.onnx)");
    gtk_file_filter_add_pattern(onnx, "*.onnx");
    gtk_file_filter_add_pattern(onnx, "*.ONNX");
    gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(w.chooser), onnx);
    GtkFileFilter* all = gtk_file_filter_new();
    gtk_file_filter_set_name(all, "All files");
    gtk_file_filter_add_pattern(all, "*");
    gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(w.chooser), all);
    if (settings->modelPath[0]) gtk_file_chooser_set_filename(GTK_FILE_CHOOSER(w.chooser), settings->modelPath);
    gimp_table_attach_aligned(GTK_TABLE(table), 0, 0, "_Model:", 0.0, 0.5, w.chooser, 1, FALSE);

    w.about = gtk_label_new("");
    gtk_misc_set_alignment(GTK_MISC(w.about), 0.0, 0.5);
    gtk_label_set_line_wrap(GTK_LABEL(w.about), TRUE);
    gtk_table_attach(GTK_TABLE(table), w.about, 1, 2, 1, 2, GTK_FILL, GTK_FILL, 0, 0);

    w.tile = addSpin(table, 2, "_Tile size:", settings->tile, 0, 65536, 1, 0,
                     "Side of the square tiles in pixels; it must match a model that fixes its input size. "
                     "0 takes the model's, or 256 for a model of any size.");
    w.step = addSpin(table, 3, "_Step:", settings->step, 0, 65536, 1, 0,
                     "Distance between tiles; the rest of each tile is overlap that is discarded. "
                     "0 takes the tile less a sixteenth of it on each side.");
    const int factor = settings->downscale < 0 ? -settings->downscale : settings->downscale;
    w.downscale = addSpin(table, 4, "_Downscale:", factor > 0 ? factor : 1, 1, 64, 1, 0,
                          "Shrink the picture by this factor before the model and enlarge the result back (1: no).");
    w.detail = gtk_check_button_new_with_mnemonic("Restore the _detail lost by shrinking");
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w.detail), settings->downscale < -1);
    gtk_table_attach(GTK_TABLE(table), w.detail, 1, 2, 5, 6, GTK_FILL, GTK_FILL, 0, 0);
    w.inputScale = addSpin(table, 6, "_Input scale:", settings->inputScale, -1.0e6, 1.0e6, 0.01, 6,
                           "Factor on the values going into the model; the layer's values run from 0 to 1.");
    w.outputScale = addSpin(table, 7, "_Output scale:", settings->outputScale, -1.0e6, 1.0e6, 0.01, 6,
                            "Factor on the values coming out of the model.");

    g_signal_connect(w.chooser, "file-set", G_CALLBACK(describeChoice), &w);
    describeChoice(GTK_FILE_CHOOSER(w.chooser), &w);
    gtk_widget_show_all(dialog);

    const bool accepted = gimp_dialog_run(GIMP_DIALOG(dialog)) == GTK_RESPONSE_OK;
    if (accepted) {
        gchar* path = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(w.chooser));
        g_strlcpy(settings->modelPath, path ? path : "", sizeof settings->modelPath);
        g_free(path);
        settings->tile = (int32_t)gtk_adjustment_get_value(w.tile);
        settings->step = (int32_t)gtk_adjustment_get_value(w.step);
        const int32_t k = (int32_t)gtk_adjustment_get_value(w.downscale);
        const bool detail = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(w.detail));
        settings->downscale = detail && k > 1 ? -k : k;
        settings->inputScale = gtk_adjustment_get_value(w.inputScale);
        settings->outputScale = gtk_adjustment_get_value(w.outputScale);
    }
    gtk_widget_destroy(dialog);
    return accepted;
}
