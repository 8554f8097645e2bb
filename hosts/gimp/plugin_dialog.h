/* The interactive dialog: the model file and the tiling options. */
#ifndef VELMORA_GIMP_PLUGIN_DIALOG_H
#define VELMORA_GIMP_PLUGIN_DIALOG_H

#include <stdbool.h>

#include "run_settings.h"

/* Shows the dialog filled from |settings|; true when the user pressed OK,
 * with |settings| updated. */
bool vgRunDialog(VgRunSettings* settings, const char* procedureName);

#endif
