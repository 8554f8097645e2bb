/* The interactive dialog: the model file, the plan the library makes for the
 * layer and the options that override it, the normalisation, and where the
 * result goes. */
#ifndef VELMORA_GIMP_PLUGIN_DIALOG_H
#define VELMORA_GIMP_PLUGIN_DIALOG_H

#include <libgimp/gimp.h>
#include <stdbool.h>

#include "library_run.h"
#include "run_settings.h"

/* Shows the dialog filled from |settings| for |drawable|; true when the user
 * pressed OK, with |settings| updated and |loaded| holding the chosen model
 * as the dialog measured it (null when none could be loaded), for the run
 * to release. */
bool vgRunDialog(VgRunSettings* settings, const char* procedureName, gint32 drawable, VgLoadedModel** loaded);

#endif
